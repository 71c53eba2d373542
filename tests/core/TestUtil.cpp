#include "TestUtil.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "support/Language.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace fs = std::filesystem;

void ManualClock::SleepMs(unsigned slept) {
  ms.fetch_add(slept);
  std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

double TimeScale() {
  const char* text = std::getenv("QUILL_TIME_SCALE");
  if (text == nullptr) return 1.0;
  char* end = nullptr;
  const double scale = std::strtod(text, &end);
  return end != text && scale >= 1.0 && scale <= 100.0 ? scale : 1.0;
}

void UseTestResources() {
#ifdef _WIN32
  SetResourceInstance(GetModuleHandleA(nullptr));
#else
  static int module;
  SetResourceInstance(&module);
#endif
}

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  fs::path base = fs::temp_directory_path();
  for (;;) {
    fs::path candidate = base / ("quillon-test-" + std::to_string(reinterpret_cast<uintptr_t>(this) & 0xffffff) + "-" +
                                 std::to_string(counter++));
    std::error_code ec;
    if (fs::create_directory(candidate, ec)) {
      m_path = candidate.u8string();
      break;
    }
  }
#ifdef _WIN32
  m_path += "\\";
#else
  m_path += "/";
#endif
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(fs::u8path(m_path), ec);
}

void TempDir::Write(const std::string& name, const std::string& bytes) const {
  std::ofstream out(fs::u8path(File(name)), std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string TempDir::Read(const std::string& name) const {
  std::ifstream in(fs::u8path(File(name)), std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}
