// The program download over the fake library and a fake environment: the box
// interface on its own thread with the user interface's dialog, and the KMC
// debugger's loader tool.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "LinkTestUtil.h"
#include "link/DownloadUi.h"
#include "link/ProgramDownload.h"

using Status = PacketChannel::Status;

namespace {

// --- Program download ----------------------------------------------------------

// Runs the "dialog" on the calling thread: returns when the download thread
// has ended it, or at once when it ended first (as the real dialog does).
class FakeDownloadUi : public DownloadUi {
 public:
  void PrepareDownloadDialog() override {
    std::lock_guard<std::mutex> lock(mutex);
    ++prepares;
    endedFlag = false;
  }
  void RunDownloadDialog() override {
    runs++;
    if (dialogFails) return;
    std::unique_lock<std::mutex> lock(mutex);
    ended.wait(lock, [this] { return endedFlag; });
  }
  void SetDownloadText(const char* text) override {
    std::lock_guard<std::mutex> lock(mutex);
    texts.push_back(text);
  }
  void EndDownloadDialog() override {
    std::lock_guard<std::mutex> lock(mutex);
    endedFlag = true;
    ended.notify_all();
  }
  bool StartLoader(const std::string& tool, const std::string& parameters, int* code) override {
    loaderTool = tool;
    loaderParameters = parameters;
    *code = loaderCode;
    return loaderCode == 0;
  }
  void ShowLoaderFailure(const std::string& tool, int code) override { failures.push_back({tool, code}); }

  int runs = 0;
  int prepares = 0;
  bool dialogFails = false;
  std::vector<std::string> texts;
  std::string loaderTool, loaderParameters;
  int loaderCode = 0;  // non-zero: the loader does not start, with this code
  struct Failure {
    std::string tool;
    int code;
  };
  std::vector<Failure> failures;
  std::mutex mutex;
  std::condition_variable ended;
  bool endedFlag = false;
};

std::atomic<int> s_downloadCalls{0};
std::string s_downloadedPath;

int32_t HOSTIO_CALL FakeDownload(void* box, const char* path, hostio::DownloadProgressFn progress, void* context) {
  ++s_downloadCalls;
  s_downloadedPath = path;
  EXPECT_NE(box, nullptr);
  for (uint64_t done = 0; done <= 300; done += 100) {
    if (progress(context, done, 300) != 1) return 0;
  }
  return 1;
}

int32_t HOSTIO_CALL FailingDownload(void*, const char*, hostio::DownloadProgressFn, void*) {
  return 0;
}

class DownloadTest : public ::testing::Test, public DeviceLinkFixture {
 protected:
  void SetUp() override {
    UseTestResources();
    s_downloadCalls = 0;
    deviceLink.Download().SetUi(&ui);
    fake.downloadProgram = &FakeDownload;
    system.readableFiles.insert(image);
  }
  // A KMC debugger (42) whose helper library gives its serial number, and
  // the loader tool's path under the SDK folder sdk.
  std::string UseKmcDebugger(const std::string& sdk) {
    fake.dllType = 2;
    fake.listed = {42};
    const std::string sep = LinkSystem::Separator();
    system.startupEnv["KMC_PARTNER_KAVS"] = "/kmc";
    system.libraries["/kmc" + sep + "BIN" + sep + "loadrun_kav.dll"].symbols["LRKAV_id2serialno"] =
        reinterpret_cast<void*>(&SerialOf);
    return sdk + sep + "tools" + sep + "CommandLineTools" + sep + "kav_loadrun32.exe";
  }
  FakeDownloadUi ui;
  const std::string image = std::string("/app") + LinkSystem::Separator() + "Quillon.bxa";
};

TEST_F(DownloadTest, BoxDownloadRunsTheDialogAndReportsProgress) {
  ASSERT_TRUE(BringUp());
  log.Clear();
  deviceLink.Download().Go(image);
  EXPECT_EQ(ui.runs, 1);
  EXPECT_EQ(s_downloadCalls, 1);
  EXPECT_EQ(s_downloadedPath, image);
  EXPECT_EQ(ui.texts, (std::vector<std::string>{"0/300", "100/300", "200/300", "300/300"}));
  EXPECT_FALSE(deviceLink.Download().IsRunning());
  const std::string text = log.Text();
  EXPECT_EQ(CountLinkLines(text, "DownloadGo QD-KAV-BOX"), 1);
  EXPECT_NE(text.find("\n0/300\n100/300\n200/300\n300/300\nDownloadGo success\n"), std::string::npos) << text;
  // A second download works the same (the dialog and thread were released).
  deviceLink.Download().Go(image);
  EXPECT_EQ(s_downloadCalls, 2);
}

TEST_F(DownloadTest, FailuresArePrintedAndTheDialogCloses) {
  ASSERT_TRUE(BringUp());
  fake.downloadProgram = &FailingDownload;
  deviceLink.Download().Go(image);
  fake.downloadProgram = nullptr;
  deviceLink.Download().Go(image);
  EXPECT_EQ(ui.runs, 2);
  const std::string text = log.Text();
  size_t first = text.find("DownloadGo failed\n");
  ASSERT_NE(first, std::string::npos);
  EXPECT_NE(text.find("DownloadGo failed\n", first + 1), std::string::npos);
}

// A missing image is printed and remembered for the window's link text until
// an image is found or the automatic download is switched off.
TEST_F(DownloadTest, MissingImageIsPrintedWithoutDialogAndRemembered) {
  ASSERT_TRUE(BringUp());
  EXPECT_FALSE(deviceLink.Download().IsImageMissing());
  deviceLink.Download().Go("/app/none.bxa");
  EXPECT_EQ(ui.runs, 0);
  EXPECT_EQ(CountLinkLines(log.Text(), "DownloadGo file \"/app/none.bxa\"not exist"), 1);
  EXPECT_TRUE(deviceLink.Download().IsImageMissing());
  EXPECT_TRUE(deviceLink.Download().AutoLoad(1, "/app"));
  EXPECT_FALSE(deviceLink.Download().IsImageMissing()) << "found beside the program";

  system.readableFiles.erase(image);
  EXPECT_TRUE(deviceLink.Download().AutoLoad(1, "/app"));
  EXPECT_TRUE(deviceLink.Download().IsImageMissing());
  EXPECT_EQ(ui.runs, 1);
  EXPECT_FALSE(deviceLink.Download().AutoLoad(0, "/app"));
  EXPECT_FALSE(deviceLink.Download().IsImageMissing()) << "nothing is to be downloaded";
}

TEST_F(DownloadTest, UnusableBoxDownloadsNothingSilently) {
  ASSERT_TRUE(BringUp());
  fake.boxUsable = false;
  deviceLink.Download().Go(image);
  fake.boxUsable = true;
  fake.rawData = false;
  deviceLink.Download().Go(image);
  EXPECT_EQ(ui.runs, 0);
  EXPECT_TRUE(LinkLines(log.Text()).size() == 4u);  // only the bring-up lines
}

// A dialog that cannot be shown returns at once: the download still runs to
// its end and its thread is joined before DownloadGo returns.
TEST_F(DownloadTest, DialogThatCannotBeShownStillEndsTheDownloadCleanly) {
  ASSERT_TRUE(BringUp());
  ui.dialogFails = true;
  deviceLink.Download().Go(image);
  EXPECT_EQ(ui.runs, 1);
  EXPECT_EQ(ui.prepares, 1);
  EXPECT_EQ(s_downloadCalls, 1);
  EXPECT_FALSE(deviceLink.Download().IsRunning());
  EXPECT_NE(log.Text().find("DownloadGo success\n"), std::string::npos);
}

TEST_F(DownloadTest, KmcDownloadStartsTheLoaderTool) {
  const std::string tool = UseKmcDebugger("/sdk");
  const std::string sep = LinkSystem::Separator();
  ASSERT_TRUE(BringUp());

  // Without the SDK's variable, or with a relative one, the tool's pattern
  // names no place: nothing is checked or started (a tool planted in a
  // folder "%KAVSDK_ROOT%" of the current one would be).
  const std::string planted = "%KAVSDK_ROOT%" + sep + "tools" + sep + "CommandLineTools" + sep + "kav_loadrun32.exe";
  system.readableFiles.insert(planted);
  system.readableFiles.insert("sdk" + sep + "tools" + sep + "CommandLineTools" + sep + "kav_loadrun32.exe");
  deviceLink.Download().Go(image);
  EXPECT_EQ(CountLinkLines(log.Text(), "DownloadGo loadrun not started: %KAVSDK_ROOT% is not set"), 1) << log.Text();
  system.startupEnv["KAVSDK_ROOT"] = "sdk";
  deviceLink.Download().Go(image);
  EXPECT_EQ(CountLinkLines(log.Text(), "DownloadGo loadrun not started: \"sdk" + sep + "tools" + sep +
                                           "CommandLineTools" + sep + "kav_loadrun32.exe\" is not a full path"),
            1);
  EXPECT_EQ(ui.loaderTool, "");

  system.startupEnv["KAVSDK_ROOT"] = "/sdk";
  deviceLink.Download().Go(image);
  EXPECT_EQ(CountLinkLines(log.Text(), "DownloadGo loadrun \"" + tool + "\"not exist"), 1);
  EXPECT_EQ(ui.loaderTool, "");

  system.readableFiles.insert(tool);
  deviceLink.Download().Go(image);
  EXPECT_EQ(ui.loaderTool, tool);
  EXPECT_EQ(ui.loaderParameters, "\"" + image + "\" -d KMC-42 -c esc -c reset --no-wait");
  EXPECT_EQ(ui.runs, 0);
}

// A loader that cannot be started (today's layout of a broken SDK) is
// logged and shown; the program goes on and the next download works. Without
// a user interface the start goes through the shell and is only logged.
TEST_F(DownloadTest, KmcLoaderThatCannotStartIsReportedAndTheProgramGoesOn) {
  const std::string tool = UseKmcDebugger("/nonexistent-sdk");
  system.startupEnv["KAVSDK_ROOT"] = "/nonexistent-sdk";
  system.readableFiles.insert(tool);
  ASSERT_TRUE(BringUp());

  ui.loaderCode = 2;
  deviceLink.Download().Go(image);
  EXPECT_EQ(CountLinkLines(log.Text(), "DownloadGo loadrun \"" + tool + "\" failed to start (2)"), 1);
  ASSERT_EQ(ui.failures.size(), 1u);
  EXPECT_EQ(ui.failures[0].tool, tool);
  EXPECT_EQ(ui.failures[0].code, 2);
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::CONNECTED);

  ui.loaderCode = 0;
  deviceLink.Download().Go(image);
  EXPECT_EQ(ui.failures.size(), 1u);

  // The shell cannot start a tool that is not there: logged, not fatal.
  deviceLink.Download().SetUi(nullptr);
  log.Clear();
  deviceLink.Download().Go(image);
  EXPECT_EQ(CountLinkLines(log.Text(), "DownloadGo loadrun \"" + tool + "\" failed to start (2)"), 1) << log.Text();
  EXPECT_EQ(deviceLink.Link().GetStatus(), Status::CONNECTED);
}

TEST_F(DownloadTest, KmcDownloadNeedsASerial) {
  fake.dllType = 2;
  fake.listed = {42};
  system.startupEnv["KAVSDK_ROOT"] = "/sdk";
  ASSERT_TRUE(BringUp());
  log.Clear();
  deviceLink.Download().Go(image);
  EXPECT_EQ(ui.loaderTool, "");
  EXPECT_TRUE(LinkLines(log.Text()).empty());
}

TEST_F(DownloadTest, AutoLoadOnlyWhenEnabledAndConnected) {
  EXPECT_FALSE(deviceLink.Download().AutoLoad(1, "/app/"));  // disconnected
  ASSERT_TRUE(BringUp());
  EXPECT_FALSE(deviceLink.Download().AutoLoad(0, "/app/"));
  EXPECT_EQ(ui.runs, 0);
  EXPECT_TRUE(deviceLink.Download().AutoLoad(1, "/app"));
  EXPECT_EQ(ui.runs, 1);
  EXPECT_EQ(s_downloadedPath, image);
}

TEST_F(DownloadTest, WithoutUserInterfaceTheBoxDownloadRunsHeadless) {
  ASSERT_TRUE(BringUp());
  deviceLink.Download().SetUi(nullptr);
  deviceLink.Download().Go(image);
  EXPECT_EQ(s_downloadCalls, 1);
  EXPECT_FALSE(deviceLink.Download().IsRunning());
  EXPECT_NE(log.Text().find("DownloadGo success\n"), std::string::npos);
}

}  // namespace
