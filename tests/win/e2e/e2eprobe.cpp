// Drops files on a window of another process, as the shell's drag and drop
// would: the DROPFILES block is written into the target process (a block of
// fixed memory there, which GlobalLock hands back as it is) and WM_DROPFILES
// is posted with it. Test equipment only: the block is not the global-memory
// object that DragFinish expects to free, and it stays allocated.
//   quilldrop CLASS FILE...      exit 0 when the message was posted
#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <vector>

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: quilldrop CLASS FILE...\n");
    return 2;
  }
  HWND hwnd = FindWindowA(argv[1], nullptr);
  if (hwnd == nullptr) {
    fprintf(stderr, "quilldrop: no window of class %s\n", argv[1]);
    return 1;
  }
  std::vector<char> block(sizeof(DROPFILES));
  DROPFILES header = {};
  header.pFiles = sizeof(DROPFILES);
  header.pt.x = 10;
  header.pt.y = 10;
  header.fNC = FALSE;
  header.fWide = FALSE;
  memcpy(block.data(), &header, sizeof(header));
  for (int i = 2; i < argc; ++i) block.insert(block.end(), argv[i], argv[i] + strlen(argv[i]) + 1);
  block.push_back('\0');

  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, pid);
  if (process == nullptr) {
    fprintf(stderr, "quilldrop: OpenProcess failed: %lu\n", GetLastError());
    return 1;
  }
  void* remote = VirtualAllocEx(process, nullptr, block.size(), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  SIZE_T written = 0;
  const bool ok = remote != nullptr && WriteProcessMemory(process, remote, block.data(), block.size(), &written) &&
                  written == block.size();
  CloseHandle(process);
  if (!ok) {
    fprintf(stderr, "quilldrop: cannot write into the process: %lu\n", GetLastError());
    return 1;
  }
  return PostMessageA(hwnd, WM_DROPFILES, reinterpret_cast<WPARAM>(remote), 0) ? 0 : 1;
}
