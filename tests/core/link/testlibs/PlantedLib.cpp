// A library that must never be loaded: the tests plant copies of it where a
// careless search would find them (the current folder, a folder literally
// named "%KMC_PARTNER_KAVS%"). Loading it writes a marker file, at the path
// in QUILL_PLANTED_MARKER, so that a test sees that it ran.
#include <cstdio>
#include <cstdlib>

#if defined(_WIN32)
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID);
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t marker[4096];
  const DWORD n = GetEnvironmentVariableW(L"QUILL_PLANTED_MARKER", marker, 4096);
  if (n == 0 || n >= 4096) return TRUE;
  HANDLE file = CreateFileW(marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return TRUE;
}
#else
__attribute__((constructor)) static void Planted();
__attribute__((constructor)) static void Planted() {
  const char* marker = getenv("QUILL_PLANTED_MARKER");
  if (marker == nullptr) return;
  FILE* file = fopen(marker, "w");
  if (file != nullptr) fclose(file);
}
#endif
