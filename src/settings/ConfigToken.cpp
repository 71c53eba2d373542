#include "settings/ConfigToken.h"

void CToken::SetLine(const std::string& line) {
  m_line = line;
  m_tokens.clear();
  size_t i = 0;
  const size_t n = m_line.size();
  while (i < n) {
    char c = m_line[i];
    if (IsBlank(c)) {
      ++i;
      continue;
    }
    if (IsLoneSymbol(c)) {
      m_tokens.emplace_back(1, c);
      ++i;
      continue;
    }
    bool symbol = IsSymbol(c);
    size_t end = i + 1;
    while (end < n && !IsBlank(m_line[end]) && !IsLoneSymbol(m_line[end]) && IsSymbol(m_line[end]) == symbol) {
      ++end;
    }
    m_tokens.push_back(m_line.substr(i, end - i));
    i = end;
  }
}

const std::string& CToken::Get(size_t index) const {
  static const std::string empty;
  return index < m_tokens.size() ? m_tokens[index] : empty;
}

bool CToken::IsBlank(char c) const {
  return c == '\0' || c == '\t' || c == '\n' || c == '\r' || c == ' ';
}

bool CToken::IsSymbol(char c) const {
  return c == '!' || c == ',' || c == '=';
}

bool CToken::IsLoneSymbol(char c) const {
  return c == ',';
}

bool CConfigToken::IsSymbol(char c) const {
  return c == '*' || c == ':';
}

bool CConfigToken::IsLoneSymbol(char c) const {
  return c == '*' || c == ':';
}
