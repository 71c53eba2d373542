// A capture source with a device and a worker thread. Start and Stop are
// the same for every such source and written here once; a source fills in
// only its device steps.
//
// Start: stop what runs (fails while a worker that Stop had to leave has
// not ended), ResolveDevice, open the stream's pipeline (its codec),
// OpenDevice, start the worker at time-critical priority (or none when the
// source has nothing to play), StartDevice; then the stream's figures begin
// and the failure is cleared. A step that fails sets the failure (the steps
// here set START_FAILED) and the Start stops the source again, which closes
// what the steps before had opened.
//
// Stop: clears the active flag, wakes a worker there is (WakeWorker), waits
// STOP_WAIT_MS for it; a worker still blocked then (in a write to a device
// that stopped reading) is left to end by itself with everything it uses,
// and Stop does nothing more. Otherwise it closes the stream's figures,
// CloseDevice, and closes the pipeline.
#pragma once

#include <cstdint>

#include "capture/SoundCapture.h"
#include "platform/Thread.h"

class DeviceSource : public SoundCapture {
 public:
  // Starts a worker thread: false (with the system's last error kept) when
  // it cannot be made. The system's is Thread::Start.
  using ThreadStarter = bool (*)(Thread& worker, Thread::Entry entry, void* context);
  static bool StartThread(Thread& worker, Thread::Entry entry, void* context);

  // How long Stop waits for a running worker.
  static constexpr uint32_t STOP_WAIT_MS = 250;

  bool Start(const DeviceEntry& device, int32_t outputRate, int32_t waveFormat) final;
  void Stop() final;

  // How the worker thread is started (tests give one that fails).
  void SetThreadStarter(ThreadStarter starter) { m_startThread = starter; }

 protected:
  // api: the name that Stop's log line gives the source.
  DeviceSource(const char* api, const Adpcm* adpcm, const CodecFunctions& codec);

  // The device steps, in the order Start calls them. Each one that fails
  // logs why and sets the failure.
  // The device for the entry (the source keeps what it needs to open it).
  virtual bool ResolveDevice(const DeviceEntry& device) = 0;
  // Opens the device for the stream (the pipeline is open at the output rate).
  virtual bool OpenDevice() = 0;
  // False: the source has nothing to play; no worker is started.
  virtual bool HasWork() const { return true; }
  // Starts the device delivering, once its worker runs.
  virtual bool StartDevice() { return true; }
  // Closes whatever OpenDevice and ResolveDevice left open; the worker has
  // ended. Also called after a Start that failed, and by every Stop.
  virtual void CloseDevice() {}
  // The worker's loop: runs while IsActive(); false when the device failed
  // (the source is then DEVICE_GONE). The worker is marked ended after it.
  virtual bool RunWorker() = 0;
  // Stop has cleared the active flag: a worker that waits for its device is
  // woken to see it.
  virtual void WakeWorker() {}

  // The worker hands each block as captured (at the input rate) on.
  void ProcessCaptured(int16_t* frames, int32_t frameCount) { Pipeline().ProcessCaptured(frames, frameCount); }
  StreamStats& Stats() { return Pipeline().Stats(); }
  // A worker that an earlier Stop had to leave has not ended yet.
  bool IsWorkerLeft() const { return m_worker.IsStarted(); }
  // For the source's destructor: stops the source, waiting as long as it
  // takes for a worker that Stop had to leave.
  void ShutDown();

 private:
  static void WorkerEntry(void* context);
  bool StartWorker();
  // False: the worker still runs.
  bool StopWorker();

  const char* m_api;
  Thread m_worker;
  ThreadStarter m_startThread = &DeviceSource::StartThread;
};
