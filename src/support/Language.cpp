#include "support/Language.h"

#include <cstdarg>
#include <cstring>

#include "support/Diag.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>
#endif

namespace {
void* s_hInstance = nullptr;
constexpr int STRING_MAX = 8192;
}  // namespace

void SetResourceInstance(void* resourceModule) {
  s_hInstance = resourceModule;
}

void* GetResourceInstance() {
  return s_hInstance;
}

#ifdef _WIN32

std::string LoadResourceString(uint32_t id) {
  QASSERT(s_hInstance != NULL);
  static thread_local char buffer[STRING_MAX];
  int n = LoadStringA(static_cast<HINSTANCE>(s_hInstance), id, buffer, STRING_MAX);
  if (n <= 0) return std::string();
  return std::string(buffer, static_cast<size_t>(n));
}

std::string FormatResourceString(uint32_t id, ...) {
  QASSERT(s_hInstance != NULL);
  SetLastError(0);
  std::string format = LoadResourceString(id);
  va_list args;
  va_start(args, id);
  char* text = nullptr;
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ALLOCATE_BUFFER, format.c_str(), 0, 0,
                           reinterpret_cast<LPSTR>(&text), 0, &args);
  va_end(args);
  QASSERT(0 == GetLastError());
  std::string result;
  if (n > 0 && text != nullptr) result.assign(text, n);
  if (text != nullptr) LocalFree(text);
  return result;
}

unsigned GetAnsiCodePage() {
  return GetACP();
}

#else  // native: the same table, compiled in

namespace {
struct Entry {
  uint32_t id;
  const char* english;
  const char* japanese;
};

const Entry s_table[] = {
#define QSTR(id, english, japanese) {id, english, japanese},
#include "resources/StringTable.def"
#undef QSTR
};

ResourceLanguage s_language = ResourceLanguage::FromEnvironment;

bool JapaneseFromEnvironment() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = getenv(name);
    if (value != nullptr && *value != 0) return strncmp(value, "ja", 2) == 0;
  }
  return false;
}

// UTF-8 to code page 932, as the ANSI functions of a Japanese system give it.
std::string ToCodePage932(const char* utf8) {
  iconv_t cd = iconv_open("CP932", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return utf8;
  std::string out(strlen(utf8) * 2 + 1, '\0');
  char* in = const_cast<char*>(utf8);
  size_t inLeft = strlen(utf8);
  char* to = &out[0];
  size_t outLeft = out.size();
  size_t rc = iconv(cd, &in, &inLeft, &to, &outLeft);
  iconv_close(cd);
  if (rc == static_cast<size_t>(-1)) return utf8;
  out.resize(out.size() - outLeft);
  return out;
}

bool UsesJapanese() {
  return s_language == ResourceLanguage::Japanese ||
         (s_language == ResourceLanguage::FromEnvironment && JapaneseFromEnvironment());
}
}  // namespace

void SetResourceLanguage(ResourceLanguage language) {
  s_language = language;
}

unsigned GetAnsiCodePage() {
  return UsesJapanese() ? 932 : 1252;
}

std::string LoadResourceString(uint32_t id) {
  QASSERT(s_hInstance != NULL);
  bool japanese = UsesJapanese();
  for (const Entry& e : s_table) {
    if (e.id == id) {
      std::string text = japanese ? ToCodePage932(e.japanese) : std::string(e.english);
      if (text.size() >= STRING_MAX) text.resize(STRING_MAX - 1);
      return text;
    }
  }
  return std::string();
}

std::string FormatResourceString(uint32_t id, ...) {
  QASSERT(s_hInstance != NULL);
  std::string format = LoadResourceString(id);
  // The inserts of a message string: %N or %N!printf-format!, N = 1..99,
  // taking the arguments in the order of their numbers; "%%" is a percent sign.
  // All inserts here are texts or integers. As with the Win32 routine, a line
  // feed of the format comes out as carriage return and line feed.
  va_list args;
  va_start(args, id);
  std::vector<const void*> fetched;
  std::string out;
  for (size_t i = 0; i < format.size(); ++i) {
    char c = format[i];
    if (c == '\r' && i + 1 < format.size() && format[i + 1] == '\n') continue;
    if (c == '\n') {
      out += "\r\n";
      continue;
    }
    if (c != '%' || i + 1 >= format.size()) {
      out += c;
      continue;
    }
    char next = format[i + 1];
    if (next == '%') {
      out += '%';
      ++i;
      continue;
    }
    if (next == 'n') {
      out += "\r\n";
      ++i;
      continue;
    }
    if (next < '1' || next > '9') {
      out += c;
      continue;
    }
    size_t j = i + 1;
    int number = 0;
    while (j < format.size() && format[j] >= '0' && format[j] <= '9' && number < 100) {
      number = number * 10 + (format[j] - '0');
      ++j;
    }
    std::string conversion = "s";
    if (j < format.size() && format[j] == '!') {
      size_t end = format.find('!', j + 1);
      if (end != std::string::npos) {
        conversion = format.substr(j + 1, end - j - 1);
        j = end + 1;
      }
    }
    bool isText = !conversion.empty() && conversion.back() == 's';
    while (static_cast<int>(fetched.size()) < number) {
      // Arguments are fetched in order; every insert up to this number is taken
      // as the same kind as this one, which holds for the program's texts.
      if (isText) {
        fetched.push_back(va_arg(args, const char*));
      } else {
        fetched.push_back(reinterpret_cast<const void*>(static_cast<intptr_t>(va_arg(args, int))));
      }
    }
    const void* value = fetched[static_cast<size_t>(number - 1)];
    char piece[64];
    if (isText) {
      out += value != nullptr ? static_cast<const char*>(value) : "";
    } else {
      snprintf(piece, sizeof(piece), "%d", static_cast<int>(reinterpret_cast<intptr_t>(value)));
      out += piece;
    }
    i = j - 1;
  }
  va_end(args);
  return out;
}

#endif
