#include "support/Strings.h"

#include "platform/Platform.h"

std::string NumberToString(int32_t value) {
  return std::to_string(value);
}

std::string GetDirectory(const std::string& path) {
  size_t at = path.find_last_of("\\/");
  return at == std::string::npos ? std::string() : path.substr(0, at + 1);
}

std::string GetFileName(const std::string& path) {
  size_t at = path.find_last_of("\\/");
  return at == std::string::npos ? path : path.substr(at + 1);
}

std::string GetExtension(const std::string& path) {
  size_t at = path.rfind('.');
  if (at == std::string::npos || at == 0) return std::string();
  return path.substr(at + 1);
}

std::string MakeAbsolute(const std::string& path) {
  if (!platform::IsRelativePath(path.c_str())) return path;
  std::string program = platform::GetProgramPath();
  if (program.empty()) return path;
  return GetDirectory(program) + path;
}

std::string ExpandEnvironmentText(const std::string& text) {
  std::string out;
  size_t from = 0;
  while (from < text.size()) {
    size_t open = text.find('%', from);
    if (open == std::string::npos) break;
    size_t close = text.find('%', open + 1);
    if (close == std::string::npos) break;
    std::string name = text.substr(open + 1, close - open - 1);
    const char* value = name.empty() ? nullptr : platform::GetStartupEnv(name.c_str());
    out.append(text, from, open - from);
    if (value != nullptr) {
      out += value;
    } else {
      out.append(text, open, close - open + 1);
    }
    from = close + 1;
  }
  out.append(text, from, std::string::npos);
  return out;
}

bool FindUnexpandedVariable(const std::string& text, std::string* name) {
  const size_t open = text.find('%');
  if (open == std::string::npos) return false;
  const size_t close = text.find('%', open + 1);
  *name = close == std::string::npos ? text.substr(open + 1) : text.substr(open + 1, close - open - 1);
  return true;
}

std::string WideToAnsi(const wchar_t* text) {
  return platform::WideToAnsi(text);
}

std::string RemoveMnemonicMarks(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '&' && ++i == text.size()) break;  // the mark; "&&" leaves one "&"
    out += text[i];
  }
  return out;
}

std::string WithoutMnemonic(const std::string& text) {
  const size_t n = text.size();
  if (n >= 4 && text[n - 4] == '(' && text[n - 3] == '&' && text[n - 2] != '&' && text[n - 1] == ')') {
    return RemoveMnemonicMarks(text.substr(0, n - 4));
  }
  return RemoveMnemonicMarks(text);
}

void ConvertLineEnds(std::string& text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
    out += text[i];
  }
  text.swap(out);
}
