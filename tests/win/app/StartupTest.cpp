// The start-up steps over a fake system: an unknown program folder, the
// debugger vendor's variables, COM that cannot be initialised, no capture
// source, and a main window that cannot be made.
#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "TestUtil.h"
#include "app/Startup.h"
#include "capture/SoundCapture.h"
#include "core/CaptureChoice.h"
#include "platform/WinText.h"
#include "resources/resource.h"
#include "support/Language.h"
#include "ui/Win32MessageBox.h"
#include "ui/Window.h"

namespace {

// What the fake system was asked and what it answers (its functions have no
// context); Reset before each test.
struct FakeSystem {
  std::string programPath;
  HRESULT comResult = S_OK;
  int sourcesToMake = 0;

  struct Box {
    std::string text;
    std::string caption;
    UINT type;
  };
  std::vector<Box> boxes;
  std::vector<std::pair<std::string, bool>> envCalls;  // name, value was null
  int comInits = 0;
  DWORD comModel = 0;
  int comUninits = 0;
  int factoryCalls = 0;
  std::string fixedDeviceText;  // what the factory was handed

  void Reset() { *this = FakeSystem(); }
};
FakeSystem g_system;

class MemoryOfMap : public ChoiceMemory {
 public:
  bool Recall(const std::string& name, std::string* value) override {
    auto it = m_values.find(name);
    if (it == m_values.end()) return false;
    *value = it->second;
    return true;
  }
  void Remember(const std::string& name, const std::string& value) override { m_values[name] = value; }

 private:
  std::map<std::string, std::string> m_values;
};

class DeviceLessSource : public SoundCapture {
 public:
  DeviceLessSource() : SoundCapture(nullptr, CodecFunctions()) {}
  std::string GetName() const override { return "Test"; }
  bool EnumerateDevices() override { return true; }
  bool Start(const DeviceEntry&, int32_t, int32_t) override { return false; }
  void Stop() override {}
};

std::string FakeProgramPath() {
  return g_system.programPath;
}
int WINAPI FakeMessageBox(HWND, LPCSTR text, LPCSTR caption, UINT type) {
  g_system.boxes.push_back({text, caption, type});
  return IDOK;
}
HRESULT WINAPI FakeCoInitializeEx(LPVOID, DWORD model) {
  ++g_system.comInits;
  g_system.comModel = model;
  return g_system.comResult;
}
void WINAPI FakeCoUninitialize() {
  ++g_system.comUninits;
}
bool FakeSetEnv(const char* name, const char* value) {
  g_system.envCalls.emplace_back(name, value == nullptr);
  return true;
}
void FakeCreateSources(CaptureChoice& choice, const Adpcm*, PacketChannel*, MessageBoxSink&,
                       const CaptureTexts& texts) {
  ++g_system.factoryCalls;
  g_system.fixedDeviceText = texts.fixedDevice;
  for (int i = 0; i < g_system.sourcesToMake; ++i) choice.Add(std::make_unique<DeviceLessSource>());
}

const StartupSystem kFakeSystem = {&FakeProgramPath,    &FakeMessageBox, &FakeCoInitializeEx,
                                   &FakeCoUninitialize, &FakeSetEnv,     &FakeCreateSources};

class StartupSteps : public ::testing::Test {
 protected:
  void SetUp() override {
    UseTestResources();
    g_system.Reset();
  }
  Startup startup{kFakeSystem};
};

TEST_F(StartupSteps, ProgramFolderOrTheMessageThatItIsUnknown) {
  g_system.programPath = "C:\\Tools\\Quill \xc3\xa9t\xc3\xa9\\Quillon.exe";
  EXPECT_EQ("C:\\Tools\\Quill \xc3\xa9t\xc3\xa9\\", startup.FindProgramFolder());
  EXPECT_TRUE(g_system.boxes.empty());

  // No path, or one without a folder: the user is told, and the program is to end with 1.
  for (const char* path : {"", "Quillon.exe"}) {
    g_system.Reset();
    g_system.programPath = path;
    EXPECT_EQ("", startup.FindProgramFolder()) << path;
    ASSERT_EQ(1u, g_system.boxes.size()) << path;
    EXPECT_EQ(LoadResourceString(IDS_PROGRAM_FOLDER_UNKNOWN), g_system.boxes[0].text);
    EXPECT_EQ(LoadResourceString(IDS_APP_NAME), g_system.boxes[0].caption);
    EXPECT_EQ(static_cast<UINT>(MB_ICONHAND | MB_SETFOREGROUND), g_system.boxes[0].type);
  }
  EXPECT_EQ(1, Startup::UNKNOWN_FOLDER_EXIT);
  EXPECT_EQ(0, g_system.comInits);
}

TEST_F(StartupSteps, DebuggerVariablesAreRemoved) {
  startup.ClearDebuggerVariables();
  const std::vector<std::pair<std::string, bool>> expected = {{"KMC_PARTNER_KAVS", true},
                                                              {"KMC_KAVHOSTIO", true},
                                                              {"KMC_KAVHOSTIO_ORIGINAL", true},
                                                              {"KMC_KAVHOSTIO_IS_OLD_DLL", true}};
  EXPECT_EQ(expected, g_system.envCalls);
}

// The system's own table removes them from the process's environment.
TEST_F(StartupSteps, DebuggerVariablesLeaveTheRealEnvironment) {
  for (const char* name : Startup::CLEARED_VARIABLES) ASSERT_TRUE(SetEnvironmentVariableA(name, "inherited"));
  Startup system(SystemStartup());
  system.ClearDebuggerVariables();
  char value[32];
  for (const char* name : Startup::CLEARED_VARIABLES) {
    EXPECT_EQ(0u, GetEnvironmentVariableA(name, value, sizeof(value))) << name;
    EXPECT_EQ(static_cast<DWORD>(ERROR_ENVVAR_NOT_FOUND), GetLastError()) << name;
  }
}

TEST_F(StartupSteps, ComThatCannotBeInitialisedIsLoggedAndNotUninitialised) {
  {
    LogCapture log;
    EXPECT_TRUE(startup.InitializeCom());
    EXPECT_EQ(static_cast<DWORD>(COINIT_APARTMENTTHREADED), g_system.comModel);
    EXPECT_EQ("", log.Text());
    startup.UninitializeCom();
    startup.UninitializeCom();
    EXPECT_EQ(1, g_system.comUninits);
  }
  g_system.Reset();
  g_system.comResult = RPC_E_CHANGED_MODE;
  LogCapture log;
  EXPECT_FALSE(startup.InitializeCom());
  EXPECT_EQ(1, g_system.comInits);
  EXPECT_EQ("CoInitialize failed: hr = 0x80010106\n", log.Text());
  startup.UninitializeCom();
  EXPECT_EQ(0, g_system.comUninits);
}

TEST_F(StartupSteps, SourcesFromTheFactoryOrNone) {
  MemoryOfMap memory;
  Win32MessageBox messages;
  CaptureTexts texts;
  texts.fixedDevice = "Fixed";
  {
    CaptureChoice choice(memory);
    g_system.sourcesToMake = 2;
    EXPECT_TRUE(startup.CreateSources(choice, nullptr, nullptr, messages, texts));
    EXPECT_EQ(2, choice.GetCount());
    EXPECT_EQ("Fixed", g_system.fixedDeviceText);
  }
  CaptureChoice choice(memory);
  g_system.sourcesToMake = 0;
  LogCapture log;
  EXPECT_FALSE(startup.CreateSources(choice, nullptr, nullptr, messages, texts));
  EXPECT_EQ(2, g_system.factoryCalls);
  EXPECT_EQ("No capture source could be made\n", log.Text());
}

// The main window's class or window cannot be made: Create says so (no
// window, logged) and start-up tells the user and ends with 1.
const DWORD kNoMemory = ERROR_NOT_ENOUGH_MEMORY;
ATOM WINAPI FailingRegister(const WNDCLASSEXA*) {
  SetLastError(kNoMemory);
  return 0;
}
HWND WINAPI FailingCreate(DWORD, LPCSTR, LPCSTR, DWORD, int, int, int, int, HWND, HMENU, HINSTANCE, LPVOID) {
  SetLastError(kNoMemory);
  return nullptr;
}

TEST_F(StartupSteps, WindowThatCannotBeMadeIsReported) {
  const WindowFunctions failing = {&FailingRegister, &FailingCreate};
  Window window;
  window.SetWindowFunctions(failing);
  LogCapture log;
  EXPECT_EQ(0, window.Register(GetModuleHandleA(nullptr), "QuillTestMain", nullptr, nullptr));
  EXPECT_EQ(nullptr, window.Create(nullptr, WS_OVERLAPPEDWINDOW, nullptr, "Test"));
  EXPECT_EQ(nullptr, window.GetHwnd());
  EXPECT_EQ("RegisterClassEx(QuillTestMain) failed: 8\nCreateWindowEx(QuillTestMain) failed: 8\n", log.Text());

  log.Clear();
  startup.ReportNoWindow();
  EXPECT_EQ("The main window could not be made; the program ends\n", log.Text());
  ASSERT_EQ(1u, g_system.boxes.size());
  EXPECT_EQ(LoadResourceString(IDS_WINDOW_NOT_CREATED), g_system.boxes[0].text);
  EXPECT_NE("", g_system.boxes[0].text);
  EXPECT_EQ(LoadResourceString(IDS_APP_NAME), g_system.boxes[0].caption);
  EXPECT_EQ(1, Startup::NO_WINDOW_EXIT);
}

}  // namespace

namespace {

// The command line as Windows passes it: the program's own name left out,
// quoted paths with spaces, names in Japanese, a quote inside a name and
// empty arguments skipped; relative paths made full from the current
// folder, and every path in its full form.
TEST(StartupCommandLine, PathsAreSplitAsWindowsSplitsThemAndMadeFull) {
  std::wstring here(MAX_PATH, L'\0');
  here.resize(GetCurrentDirectoryW(MAX_PATH, &here[0]));
  ASSERT_FALSE(here.empty());
  if (here.back() != L'\\') here += L'\\';
  struct Case {
    std::wstring line;
    std::vector<std::wstring> paths;
  };
  const Case cases[] = {
      {L"", {}},
      {L"Quillon.exe", {}},
      {L"\"C:\\Program Files\\Quillon\\Quillon.exe\"  ", {}},
      {L"Quillon.exe C:\\a.wav", {L"C:\\a.wav"}},
      {L"\"C:\\Q x\\Quillon.exe\" \"C:\\My Sounds\\loop 1.wav\" D:\\s.cfg",
       {L"C:\\My Sounds\\loop 1.wav", L"D:\\s.cfg"}},
      {L"Quillon.exe \"C:\\\u97F3\u306E\u8A2D\u5B9A\\\u30BD\u8868\u80FD.cfg\"",
       {L"C:\\\u97F3\u306E\u8A2D\u5B9A\\\u30BD\u8868\u80FD.cfg"}},
      {L"Quillon.exe \"\" C:\\a.cfg \"\"", {L"C:\\a.cfg"}},
      {L"Quillon.exe \"C:\\it\\\"s here.cfg\"", {L"C:\\it\"s here.cfg"}},
      {L"Quillon.exe sounds\\x.wav", {here + L"sounds\\x.wav"}},
      {L"Quillon.exe C:\\a\\..\\b\\.\\c.wav", {L"C:\\b\\c.wav"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.paths, Startup::CommandLinePaths(c.line.c_str())) << platform::WideToUtf8(c.line.c_str());
  }
  EXPECT_TRUE(Startup::CommandLinePaths(nullptr).empty());
}

}  // namespace
