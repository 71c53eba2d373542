#include "support/Registry.h"

#include <windows.h>
#include <vector>

#include "platform/WinText.h"
#include "support/Diag.h"

bool CRegistry::Open(const char* subkey) {
  Close();
  HKEY key = nullptr;
  DWORD disposition = 0;
  LONG rc = RegCreateKeyExA(HKEY_CURRENT_USER, subkey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                            &key, &disposition);
  if (rc != ERROR_SUCCESS) {
    m_hKey = nullptr;
    QASSERT(m_hKey == NULL);
    return false;
  }
  m_hKey = key;
  m_disposition = disposition;
  return true;
}

void CRegistry::Close() {
  if (m_hKey != nullptr) {
    RegCloseKey(static_cast<HKEY>(m_hKey));
    m_hKey = nullptr;
  }
}

bool CRegistry::GetDword(const char* name, uint32_t& value) {
  value = 0;
  if (m_hKey == nullptr) return false;
  DWORD type = 0;
  DWORD data = 0;
  DWORD size = sizeof(data);
  LONG rc = RegQueryValueExA(static_cast<HKEY>(m_hKey), name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size);
  if (rc != ERROR_SUCCESS || type != REG_DWORD || size != sizeof(data)) return false;
  value = data;
  return true;
}

bool CRegistry::SetDword(const char* name, uint32_t value) {
  if (m_hKey == nullptr) return false;
  DWORD data = value;
  return RegSetValueExA(static_cast<HKEY>(m_hKey), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                        sizeof(data)) == ERROR_SUCCESS;
}

bool CRegistry::GetString(const char* name, std::string& value) {
  value.clear();
  if (m_hKey == nullptr) return false;
  DWORD type = 0;
  DWORD size = 0;
  LONG rc = RegQueryValueExA(static_cast<HKEY>(m_hKey), name, nullptr, &type, nullptr, &size);
  if (rc != ERROR_SUCCESS || type != REG_SZ) return false;
  std::vector<char> data(size + 1, '\0');
  rc = RegQueryValueExA(static_cast<HKEY>(m_hKey), name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size);
  if (rc != ERROR_SUCCESS || type != REG_SZ) return false;
  if (size > data.size() - 1) size = static_cast<DWORD>(data.size() - 1);
  size_t length = 0;
  while (length < size && data[length] != 0) ++length;
  value.assign(data.data(), length);
  return true;
}

bool CRegistry::SetString(const char* name, const std::string& value) {
  if (m_hKey == nullptr) return false;
  // The system adds a terminator to the count when the byte after the data is
  // a NUL; a non-NUL byte there keeps the stored count at the text's length.
  std::vector<char> data(value.begin(), value.end());
  data.push_back('\x01');
  return RegSetValueExA(static_cast<HKEY>(m_hKey), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.data()),
                        static_cast<DWORD>(value.size())) == ERROR_SUCCESS;
}

bool CRegistry::GetPath(const char* name, std::string& value) {
  value.clear();
  if (m_hKey == nullptr) return false;
  const std::wstring wideName = platform::Utf8ToWide(name);
  DWORD type = 0;
  DWORD size = 0;
  LONG rc = RegQueryValueExW(static_cast<HKEY>(m_hKey), wideName.c_str(), nullptr, &type, nullptr, &size);
  if (rc != ERROR_SUCCESS || type != REG_SZ) return false;
  std::vector<wchar_t> data(size / sizeof(wchar_t) + 1, L'\0');
  rc = RegQueryValueExW(static_cast<HKEY>(m_hKey), wideName.c_str(), nullptr, &type,
                        reinterpret_cast<BYTE*>(data.data()), &size);
  if (rc != ERROR_SUCCESS || type != REG_SZ) return false;
  size_t length = size / sizeof(wchar_t);
  if (length > data.size() - 1) length = data.size() - 1;
  size_t end = 0;
  while (end < length && data[end] != 0) ++end;
  value = platform::WideToUtf8(data.data(), end);
  return true;
}

bool CRegistry::SetPath(const char* name, const std::string& value) {
  if (m_hKey == nullptr) return false;
  const std::wstring wide = platform::Utf8ToWide(value);
  // As SetString: the count is the text's, without a terminator.
  std::vector<wchar_t> data(wide.begin(), wide.end());
  data.push_back(L'\x01');
  return RegSetValueExW(static_cast<HKEY>(m_hKey), platform::Utf8ToWide(name).c_str(), 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(data.data()),
                        static_cast<DWORD>(wide.size() * sizeof(wchar_t))) == ERROR_SUCCESS;
}
