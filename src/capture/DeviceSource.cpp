#include "capture/DeviceSource.h"

#include "platform/Platform.h"
#include "support/Log.h"

namespace {
// Stops the source when a Start leaves before its end: released when the
// stream runs, so that every early exit takes the same way out.
class StopUnlessReleased {
 public:
  explicit StopUnlessReleased(SoundCapture& source) : m_source(&source) {}
  StopUnlessReleased(const StopUnlessReleased&) = delete;
  StopUnlessReleased& operator=(const StopUnlessReleased&) = delete;
  ~StopUnlessReleased() {
    if (m_source != nullptr) m_source->Stop();
  }
  void Release() { m_source = nullptr; }

 private:
  SoundCapture* m_source;
};
}  // namespace

DeviceSource::DeviceSource(const char* api, const Adpcm* adpcm, const CodecFunctions& codec)
    : SoundCapture(adpcm, codec), m_api(api) {}

bool DeviceSource::StartThread(Thread& worker, Thread::Entry entry, void* context) {
  return worker.Start(entry, context);
}

bool DeviceSource::Start(const DeviceEntry& device, int32_t outputRate, int32_t waveFormat) {
  Stop();
  if (IsWorkerLeft()) return false;  // the previous worker has not ended
  StopUnlessReleased stopOnFailure(*this);
  if (!ResolveDevice(device)) return false;
  SetEnded(false);
  if (!Pipeline().Open(outputRate, waveFormat)) {
    SetFailure(CaptureFailure::START_FAILED);
    return false;
  }
  if (!OpenDevice()) return false;
  if (!HasWork()) {
    SetActive(true);
  } else if (!StartWorker()) {
    return false;
  }
  if (!StartDevice()) return false;
  // Nothing reaches the pipeline before the device starts, so the figures
  // begin here: a Start that fails leaves no stream behind.
  BeginStream();
  SetFailure(CaptureFailure::NONE);
  stopOnFailure.Release();
  return true;
}

void DeviceSource::Stop() {
  if (!StopWorker()) return;
  CloseDevice();
  Pipeline().Close();
  SetEnded(false);
}

void DeviceSource::ShutDown() {
  Stop();
  // A worker that Stop left running still uses this object: waited for.
  if (m_worker.IsStarted()) {
    m_worker.Join();
    Stop();
  }
}

bool DeviceSource::StartWorker() {
  SetActive(true);
  if (!m_startThread(m_worker, &DeviceSource::WorkerEntry, this)) {
    Log("CreateThread failed: last error is %u\n", platform::LastError());
    SetFailure(CaptureFailure::START_FAILED);
    return false;
  }
  m_worker.SetTimeCritical();
  return true;
}

// Gives a worker told to stop now STOP_WAIT_MS to end; one told before is
// only looked at. Once it has ended, the stream's figures are closed.
bool DeviceSource::StopWorker() {
  const bool wasActive = IsActive();
  SetActive(false);
  // Only a worker is woken: an event set without one would wake the next.
  if (m_worker.IsStarted()) WakeWorker();
  if (!m_worker.JoinFor(wasActive ? STOP_WAIT_MS : 0)) {
    if (wasActive) {
      Log("%s: the worker did not end within %u ms; left to end by itself\n", m_api,
          static_cast<unsigned>(STOP_WAIT_MS));
    }
    return false;
  }
  EndStream();
  return true;
}

void DeviceSource::WorkerEntry(void* context) {
  DeviceSource* source = static_cast<DeviceSource*>(context);
  if (!source->RunWorker()) source->SetFailure(CaptureFailure::DEVICE_GONE);
  source->SetEnded(true);
}
