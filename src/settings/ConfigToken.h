// Splits a line of text into tokens. Blank characters separate tokens and are
// dropped; symbol characters form tokens of their own class; a "lone" symbol
// is always a token by itself, even when repeated. CConfigToken is the
// settings files' variant.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

class CToken {
 public:
  CToken() = default;
  virtual ~CToken() = default;

  // Splits line; the tokens of a previous line are dropped.
  void SetLine(const std::string& line);

  const std::string& GetLine() const { return m_line; }
  size_t GetCount() const { return m_tokens.size(); }
  // The token at index; the empty text past the last one.
  const std::string& Get(size_t index) const;

 protected:
  // NUL, TAB, LF, CR and space.
  virtual bool IsBlank(char c) const;
  // "!", "," and "=".
  virtual bool IsSymbol(char c) const;
  // ",".
  virtual bool IsLoneSymbol(char c) const;

 private:
  std::string m_line;
  std::vector<std::string> m_tokens;
};

// Settings files: "*" and ":" are the symbols, each a token by itself; "!",
// "," and "=" are ordinary characters.
class CConfigToken : public CToken {
 protected:
  bool IsSymbol(char c) const override;
  bool IsLoneSymbol(char c) const override;
};
