// The program's registry key under HKEY_CURRENT_USER (Windows only).
#pragma once

#include <cstdint>
#include <string>

class CRegistry {
 public:
  CRegistry() = default;
  CRegistry(const CRegistry&) = delete;
  CRegistry& operator=(const CRegistry&) = delete;
  virtual ~CRegistry() { Close(); }

  // Creates or opens HKEY_CURRENT_USER\<subkey> with all access.
  bool Open(const char* subkey);
  void Close();
  bool IsOpen() const { return m_hKey != nullptr; }

  // True only for an existing REG_DWORD; otherwise value = 0.
  bool GetDword(const char* name, uint32_t& value);
  bool SetDword(const char* name, uint32_t value);
  // True only for an existing REG_SZ; the text ends at the first NUL or the
  // stored length. Otherwise value is empty.
  bool GetString(const char* name, std::string& value);
  // Writes a REG_SZ of exactly the string's length, without a terminating NUL.
  bool SetString(const char* name, const std::string& value);
  // A stored path (REG_SZ) in UTF-8, through the wide functions so that a
  // folder named in any language survives; a value written by SetString
  // reads back the same. The same rules otherwise.
  bool GetPath(const char* name, std::string& value);
  bool SetPath(const char* name, const std::string& value);

 private:
  void* m_hKey = nullptr;
  uint32_t m_disposition = 0;
};
