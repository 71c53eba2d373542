// A loader tool that must never be started: the planted test puts it where a
// careless search would find the SDK's kav_loadrun32.exe (a folder literally
// named "%KAVSDK_ROOT%" in the current folder). Started, it writes a marker
// file at the path in QUILL_PLANTED_TOOL_MARKER, whatever its arguments, so
// that the test sees that it ran.
#include <windows.h>

int main() {
  wchar_t marker[4096];
  const DWORD n = GetEnvironmentVariableW(L"QUILL_PLANTED_TOOL_MARKER", marker, 4096);
  if (n == 0 || n >= 4096) return 1;
  HANDLE file = CreateFileW(marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  CloseHandle(file);
  return 0;
}
