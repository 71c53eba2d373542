// One program per folder over a fake window search: the folder claimed, a
// running program brought to the front, one whose window is not up yet
// (waited for, then given up), one that ended or crashed meanwhile (its claim
// taken over), spellings of a folder that differ only in case, and the paths
// a second start hands over (the fake's, and the system's message read back
// by the receiver's check).
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <thread>
#include <vector>

#include "app/SingleInstance.h"
#include "core/HandedPath.h"

namespace {

const std::wstring kClass = L"QuillonTest";
HWND const kRunningWindow = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x4242));

// The fake system's state (its functions have no context); Reset before each test.
struct FakeSystem {
  int windowAfterLooks = -1;  // the window is found at this look (0: the first); -1: never
  int looks = 0;
  std::string lookedFolder;
  std::wstring lookedClass;
  std::vector<HWND> broughtToFront;
  // The answers of the waits for the mutex, in order; then WAIT_TIMEOUT.
  std::vector<DWORD> waitResults;
  std::vector<DWORD> waits;  // the timeout of each wait
  bool realWait = false;     // the system's WaitForSingleObject instead
  std::vector<std::pair<HWND, std::wstring>> handedOver;
  int refuseAt = -1;  // the hand-over of this index (0: the first) is refused

  void Reset() { *this = FakeSystem(); }
};
FakeSystem g_system;

HWND FakeFindWindow(const std::wstring& className, const std::string& folder) {
  g_system.lookedClass = className;
  g_system.lookedFolder = folder;
  const int look = g_system.looks++;
  return g_system.windowAfterLooks >= 0 && look >= g_system.windowAfterLooks ? kRunningWindow : nullptr;
}
void FakeBringToFront(HWND window) {
  g_system.broughtToFront.push_back(window);
}
DWORD WINAPI FakeWait(HANDLE object, DWORD ms) {
  const size_t index = g_system.waits.size();
  g_system.waits.push_back(ms);
  if (g_system.realWait) return WaitForSingleObject(object, ms);
  return index < g_system.waitResults.size() ? g_system.waitResults[index] : static_cast<DWORD>(WAIT_TIMEOUT);
}
bool FakeHandOver(HWND window, const std::wstring& path) {
  const int index = static_cast<int>(g_system.handedOver.size());
  g_system.handedOver.emplace_back(window, path);
  return index != g_system.refuseAt;
}
const SingleInstance::System kFake = {&FakeFindWindow, &FakeBringToFront, &FakeWait, &FakeHandOver};

// The folders of this test alone: the mutex's name is the session's.
std::string TestRoot() {
  return "C:\\QuillTest\\" + std::to_string(GetCurrentProcessId()) + "\\" +
         ::testing::UnitTest::GetInstance()->current_test_info()->name() + "\\";
}
std::string TestFolder(const std::string& name) {
  return TestRoot() + name + "\\";
}

// The same with every ASCII letter in the other case.
std::string OtherCase(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    } else if (c >= 'a' && c <= 'z') {
      c = static_cast<char>(c - 'a' + 'A');
    }
  }
  return text;
}

class SingleInstanceClaim : public ::testing::Test {
 protected:
  void SetUp() override { g_system.Reset(); }
};

TEST_F(SingleInstanceClaim, FirstClaimRunsAndASecondBringsTheRunningWindowBack) {
  const std::string folder = TestFolder("Bin");
  SingleInstance first(kFake);
  EXPECT_TRUE(first.Claim(folder, kClass));
  EXPECT_EQ(0, g_system.looks) << "nothing to look for";

  g_system.windowAfterLooks = 0;
  SingleInstance second(kFake);
  EXPECT_FALSE(second.Claim(folder, kClass));
  EXPECT_EQ(std::vector<HWND>{kRunningWindow}, g_system.broughtToFront);
  EXPECT_EQ(folder, g_system.lookedFolder);
  EXPECT_EQ(kClass, g_system.lookedClass);
  EXPECT_TRUE(g_system.waits.empty());

  // Another folder is another program.
  SingleInstance other(kFake);
  EXPECT_TRUE(other.Claim(TestFolder("Other"), kClass));
}

// The running program has claimed the folder but has no window yet: looked
// for after each 100 ms of waiting for the claim; found, it comes to the
// front; never found, the second start gives up after waitMs.
TEST_F(SingleInstanceClaim, RunningProgramWithoutItsWindowYet) {
  const std::string folder = TestFolder("Bin");
  SingleInstance first(kFake);
  ASSERT_TRUE(first.Claim(folder, kClass));

  g_system.windowAfterLooks = 3;
  {
    SingleInstance second(kFake);
    EXPECT_FALSE(second.Claim(folder, kClass, 1000));
    EXPECT_EQ(4, g_system.looks);
    EXPECT_EQ((std::vector<DWORD>{100, 100, 100}), g_system.waits);
    EXPECT_EQ(std::vector<HWND>{kRunningWindow}, g_system.broughtToFront);
  }

  g_system.Reset();
  {
    SingleInstance second(kFake);
    EXPECT_FALSE(second.Claim(folder, kClass, 1000));
    // Waits at 0, 100, ... 1000 ms of waiting: then given up.
    EXPECT_EQ(11u, g_system.waits.size());
    EXPECT_EQ(11, g_system.looks);
    EXPECT_TRUE(g_system.broughtToFront.empty());
  }
}

// The running program ends while the second one waits: the claim comes to
// the second one, whether the first released it or crashed holding it (an
// abandoned mutex).
TEST_F(SingleInstanceClaim, ClaimOfAProgramThatEndedOrCrashedIsTakenOver) {
  const std::string folder = TestFolder("Bin");
  for (DWORD result : {static_cast<DWORD>(WAIT_OBJECT_0), static_cast<DWORD>(WAIT_ABANDONED)}) {
    g_system.Reset();
    SingleInstance first(kFake);
    ASSERT_TRUE(first.Claim(folder, kClass));
    g_system.waitResults = {WAIT_TIMEOUT, result};
    SingleInstance second(kFake);
    EXPECT_TRUE(second.Claim(folder, kClass, 1000)) << result;
    EXPECT_EQ(2u, g_system.waits.size()) << result;
    EXPECT_TRUE(g_system.broughtToFront.empty()) << result;
  }
}

// A real crash: the first claim's thread ends without releasing it, its
// handle still open (the program's other handles keep the mutex alive). The
// system's wait reports the mutex abandoned, and the claim is taken over.
TEST_F(SingleInstanceClaim, MutexAbandonedByAThreadThatEndedIsTakenOver) {
  const std::string folder = TestFolder("Bin");
  HANDLE held = nullptr;
  std::thread crashed([&] { held = CreateMutexW(nullptr, TRUE, SingleInstance::MutexName(folder).c_str()); });
  crashed.join();
  ASSERT_NE(nullptr, held);
  g_system.realWait = true;
  {
    SingleInstance second(kFake);
    EXPECT_TRUE(second.Claim(folder, kClass, 1000));
    ASSERT_EQ(1u, g_system.waits.size());
    EXPECT_TRUE(g_system.broughtToFront.empty());
  }
  // Released by the second one's end: free for another thread.
  DWORD taken = WAIT_FAILED;
  std::thread later([&] {
    taken = WaitForSingleObject(held, 0);
    if (taken == WAIT_OBJECT_0) ReleaseMutex(held);
  });
  later.join();
  EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), taken);
  CloseHandle(held);
}

// Windows folders are the same whatever the case of their letters: one
// claim for every spelling.
TEST_F(SingleInstanceClaim, SpellingsThatDifferOnlyInCaseAreOneFolder) {
  // "Quill Été" and "qUILL éTÉ", in a folder spelled in the other case.
  const std::string folder = TestFolder("Quill \xc3\x89t\xc3\xa9");
  const std::string other = OtherCase(TestRoot()) + "qUILL \xc3\xa9T\xc3\x89\\";
  ASSERT_NE(folder, other);
  EXPECT_EQ(SingleInstance::MutexName(folder), SingleInstance::MutexName(other));
  EXPECT_NE(SingleInstance::MutexName(folder), SingleInstance::MutexName(TestFolder("Quill Ete")));

  SingleInstance first(kFake);
  ASSERT_TRUE(first.Claim(folder, kClass));
  g_system.windowAfterLooks = 0;
  SingleInstance second(kFake);
  EXPECT_FALSE(second.Claim(other, kClass));
  EXPECT_EQ(std::vector<HWND>{kRunningWindow}, g_system.broughtToFront);
}

// A second start hands its paths to the running program's window, one at a
// time in order, after bringing it to the front; a refused one ends the
// hand-over. Without the window (never found) nothing is sent, and only a
// start without paths counts that as done.
TEST_F(SingleInstanceClaim, SecondStartHandsItsPathsToTheRunningWindowInOrder) {
  const std::string folder = TestFolder("Bin");
  const std::wstring wave = L"C:\\My Sounds\\loop 1.wav";
  const std::wstring settings = L"D:\\\u97F3\\\u30BD.cfg";
  using Handed = std::vector<std::pair<HWND, std::wstring>>;
  SingleInstance first(kFake);
  ASSERT_TRUE(first.Claim(folder, kClass));
  EXPECT_FALSE(first.HandOver({wave})) << "the running program has no one to hand over to";
  EXPECT_TRUE(g_system.handedOver.empty());

  g_system.windowAfterLooks = 0;
  SingleInstance second(kFake);
  ASSERT_FALSE(second.Claim(folder, kClass));
  EXPECT_TRUE(second.HandOver({}));
  EXPECT_TRUE(g_system.handedOver.empty());
  EXPECT_TRUE(second.HandOver({wave, settings}));
  EXPECT_EQ((Handed{{kRunningWindow, wave}, {kRunningWindow, settings}}), g_system.handedOver);

  g_system.handedOver.clear();
  g_system.refuseAt = 0;
  EXPECT_FALSE(second.HandOver({wave, settings}));
  EXPECT_EQ((Handed{{kRunningWindow, wave}}), g_system.handedOver);

  g_system.Reset();
  SingleInstance third(kFake);
  ASSERT_FALSE(third.Claim(folder, kClass, 200));
  EXPECT_FALSE(third.HandOver({wave}));
  EXPECT_TRUE(third.HandOver({}));
  EXPECT_TRUE(g_system.handedOver.empty());
}

// What a receiving window was sent, read back by the receiver's check.
struct Receiver {
  std::vector<std::string> paths;
  LRESULT answer = TRUE;
};
Receiver g_receiver;

LRESULT CALLBACK ReceiverProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_COPYDATA) return DefWindowProcW(hwnd, message, wParam, lParam);
  const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
  std::string path;
  const HandedPathFault fault = ReadHandedPath(data->dwData, data->lpData, data->cbData, &path);
  g_receiver.paths.push_back(fault == HandedPathFault::NONE ? path : HandedPathFaultText(fault));
  return g_receiver.answer;
}

// The system's hand-over: one WM_COPYDATA with the program's tag and the
// path's characters without their NUL, which the receiver's check takes
// whole; the receiver's answer is the result. A path that the receiver
// would refuse for its length, or an empty one, is not sent.
TEST(SingleInstanceHandOver, TheSystemSendsTheTaggedPathThatTheReceiverTakes) {
  g_receiver = Receiver();
  WNDCLASSW cls = {};
  cls.lpfnWndProc = &ReceiverProc;
  cls.hInstance = GetModuleHandleW(nullptr);
  cls.lpszClassName = L"QuillHandOverReceiver";
  ASSERT_NE(0, RegisterClassW(&cls));
  HWND receiver = CreateWindowW(cls.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, cls.hInstance, nullptr);
  ASSERT_NE(nullptr, receiver);
  const SingleInstance::System& system = SingleInstance::SystemCalls();

  EXPECT_TRUE(system.handOver(receiver, L"C:\\My Sounds\\\u97F3 1.wav"));
  std::wstring longest = L"C:\\";
  longest.append(HANDED_PATH_MAX_CHARS - longest.size(), L'a');
  EXPECT_TRUE(system.handOver(receiver, longest));
  EXPECT_FALSE(system.handOver(receiver, longest + L"a"));
  EXPECT_FALSE(system.handOver(receiver, L""));
  g_receiver.answer = FALSE;
  EXPECT_FALSE(system.handOver(receiver, L"D:\\x.cfg"));
  ASSERT_EQ(3u, g_receiver.paths.size());
  EXPECT_EQ(u8"C:\\My Sounds\\\u97F3 1.wav", g_receiver.paths[0]);
  EXPECT_EQ(HANDED_PATH_MAX_CHARS, g_receiver.paths[1].size());
  EXPECT_EQ("D:\\x.cfg", g_receiver.paths[2]);

  DestroyWindow(receiver);
  UnregisterClassW(cls.lpszClassName, cls.hInstance);
}

}  // namespace
