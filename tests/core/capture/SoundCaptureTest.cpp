// The sources' common Start and Stop (DeviceSource) over a source whose
// device steps only record themselves: the one order of the steps, the way
// out of a Start that fails at any of them, and a worker that ends by itself.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "CaptureTestUtil.h"
#include "TestCapture.h"
#include "capture/DeviceSource.h"
#include "codec/include/QuillDll.h"

namespace {

// A source whose device steps record their names (with "+codec" while the
// stream's codec is open) and fail when told to; its worker waits until it
// is stopped or its device is made to fail.
class StepSource : public DeviceSource {
 public:
  StepSource() : DeviceSource("Steps", nullptr, FakeCodecFunctions()) {}
  ~StepSource() override { ShutDown(); }
  std::string GetName() const override { return "Steps"; }
  bool EnumerateDevices() override { return true; }

  // Main thread: the worker does not record.
  std::vector<std::string> steps;
  std::string failAt;  // the step that fails, with failure
  CaptureFailure failure = CaptureFailure::DEVICE_GONE;
  bool hasWork = true;

  void FailDevice() {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_deviceFails = true;
    }
    m_wake.notify_all();
  }

 protected:
  bool ResolveDevice(const DeviceEntry&) override { return Step("resolve"); }
  bool OpenDevice() override { return Step("open"); }
  bool HasWork() const override { return hasWork; }
  bool StartDevice() override { return Step("start"); }
  void CloseDevice() override { Step("close"); }
  bool RunWorker() override {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_wake.wait(lock, [this] { return !IsActive() || m_deviceFails; });
    const bool failed = m_deviceFails;
    m_deviceFails = false;
    return !failed;
  }
  void WakeWorker() override {
    { std::lock_guard<std::mutex> lock(m_mutex); }
    m_wake.notify_all();
  }

 private:
  bool Step(const std::string& name) {
    steps.push_back(IsCodecOpen() ? name + "+codec" : name);
    if (name != failAt) return true;
    SetFailure(failure);
    return false;
  }

  std::mutex m_mutex;
  std::condition_variable m_wake;
  bool m_deviceFails = false;
};

using Steps = std::vector<std::string>;

class SoundCaptureTest : public ::testing::Test {
 protected:
  void SetUp() override { g_codec = FakeCodecLibrary(); }
};

TEST_F(SoundCaptureTest, StartTakesTheStepsInOneOrderAndStopClosesWhatTheyOpened) {
  StepSource source;
  ASSERT_TRUE(source.Start(DeviceEntry("Mic", 3), 32728, WAVEFMT_CRI_ADX));
  // The stop of what ran, the device, the stream's codec, the device opened
  // for it, the worker, the device started.
  EXPECT_EQ(source.steps, (Steps{"close", "resolve", "open+codec", "start+codec"}));
  EXPECT_TRUE(source.IsActive());
  EXPECT_EQ(source.GetFailure(), CaptureFailure::NONE);
  EXPECT_TRUE(source.GetStreamFigures().running);
  EXPECT_EQ(source.GetOutputRate(), 32728);

  source.steps.clear();
  source.Stop();
  EXPECT_EQ(source.steps, (Steps{"close+codec"}));
  EXPECT_FALSE(source.IsActive());
  EXPECT_FALSE(source.IsCodecOpen());
  EXPECT_EQ(g_codec.closes, 1);
  const StreamFigures last = source.GetStreamFigures();
  EXPECT_TRUE(last.valid && !last.running);

  // A Start while a stream runs stops that stream first.
  ASSERT_TRUE(source.Start(DeviceEntry("Mic", 3), 32728, WAVEFMT_PCM));
  source.steps.clear();
  ASSERT_TRUE(source.Start(DeviceEntry("Mic", 3), 48000, WAVEFMT_PCM));
  EXPECT_EQ(source.steps, (Steps{"close", "resolve", "open", "start"}));
  source.Stop();
}

// Whichever step fails, the Start reports the step's failure, and the source
// is stopped: the device closed, the codec closed, no stream begun, and the
// next Start begins afresh.
TEST_F(SoundCaptureTest, StartThatFailsAtAnyStepLeavesTheSourceStopped) {
  struct Case {
    const char* failAt;  // a device step, "codec" or "thread"
    CaptureFailure failure;
    Steps steps;  // after the stop that each Start begins with
  } cases[] = {
      {"resolve", CaptureFailure::NO_DEVICE, {"resolve", "close"}},
      {"codec", CaptureFailure::START_FAILED, {"resolve", "close"}},
      {"open", CaptureFailure::FORMAT_REFUSED, {"resolve", "open+codec", "close+codec"}},
      {"thread", CaptureFailure::START_FAILED, {"resolve", "open+codec", "close+codec"}},
      {"start", CaptureFailure::DEVICE_GONE, {"resolve", "open+codec", "start+codec", "close+codec"}},
  };
  for (const Case& c : cases) {
    g_codec = FakeCodecLibrary();
    StepSource source;
    source.failAt = c.failAt;
    source.failure = c.failure;
    if (source.failAt == "codec") g_codec.openResult = QuillDll::RESULT_FAILED;
    if (source.failAt == "thread") source.SetThreadStarter([](Thread&, Thread::Entry, void*) { return false; });
    EXPECT_FALSE(source.Start(DeviceEntry("Mic", 3), 32728, WAVEFMT_CRI_HCA_HIGH)) << c.failAt;
    source.steps.erase(source.steps.begin());  // the stop before
    EXPECT_EQ(source.steps, c.steps) << c.failAt;
    EXPECT_EQ(source.GetFailure(), c.failure) << c.failAt;
    EXPECT_FALSE(source.IsActive()) << c.failAt;
    EXPECT_FALSE(source.IsCodecOpen()) << c.failAt;
    if (source.failAt != "codec") {
      EXPECT_EQ(g_codec.opens, g_codec.closes) << c.failAt;
    }
    EXPECT_FALSE(source.GetStreamFigures().valid) << c.failAt << ": no stream begun";

    source.failAt.clear();
    g_codec.openResult = QuillDll::RESULT_SUCCESS;
    source.SetThreadStarter(&DeviceSource::StartThread);
    EXPECT_TRUE(source.Start(DeviceEntry("Mic", 3), 32728, WAVEFMT_CRI_HCA_HIGH)) << c.failAt;
    EXPECT_EQ(source.GetFailure(), CaptureFailure::NONE) << c.failAt;
    source.Stop();
  }
}

TEST_F(SoundCaptureTest, WorkerThatEndsByItselfLeavesTheDeviceGoneUntilPollStopsIt) {
  StepSource source;
  ASSERT_TRUE(source.Start(DeviceEntry("Mic", 3), 32728, WAVEFMT_PCM));
  source.FailDevice();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  while (!source.IsEnded() && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  ASSERT_TRUE(source.IsEnded());
  EXPECT_EQ(source.GetFailure(), CaptureFailure::DEVICE_GONE);
  EXPECT_TRUE(source.IsActive()) << "until the idle tick's Poll";

  source.steps.clear();
  source.Poll();
  EXPECT_EQ(source.steps, (Steps{"close"}));
  EXPECT_FALSE(source.IsActive());
  EXPECT_FALSE(source.IsEnded());
  EXPECT_EQ(source.GetFailure(), CaptureFailure::DEVICE_GONE) << "Stop keeps why the stream ended";
  EXPECT_FALSE(source.GetStreamFigures().running);

  // The idle tick's restart is counted in the figures of the next stream.
  source.CountRestart();
  ASSERT_TRUE(source.Start(DeviceEntry("Mic", 3), 32728, WAVEFMT_PCM));
  EXPECT_EQ(source.GetFailure(), CaptureFailure::NONE);
  EXPECT_EQ(source.GetStreamFigures().restarts, 1u);
  source.Stop();
}

TEST_F(SoundCaptureTest, SourceWithNothingToPlayRunsWithoutAWorker) {
  static int threads = 0;
  threads = 0;
  StepSource source;
  source.hasWork = false;
  source.SetThreadStarter([](Thread& worker, Thread::Entry entry, void* context) {
    ++threads;
    return DeviceSource::StartThread(worker, entry, context);
  });
  ASSERT_TRUE(source.Start(DeviceEntry("Mic", 3), 32728, WAVEFMT_PCM));
  EXPECT_TRUE(source.IsActive());
  EXPECT_EQ(threads, 0);
  source.Stop();
  EXPECT_FALSE(source.IsActive());
  source.hasWork = true;
  ASSERT_TRUE(source.Start(DeviceEntry("Mic", 3), 32728, WAVEFMT_PCM));
  EXPECT_EQ(threads, 1);
  source.Stop();
}

}  // namespace
