// Helpers of the live-capture tests under wine64 beside a private PulseAudio
// (see with-pulse): sink commands run on the host, a channel that times its
// writes, and measurements of a captured tone.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "../../core/capture/CaptureTestUtil.h"

class SoundCapture;
struct DeviceEntry;

// True when with-pulse started the server; the tests skip themselves otherwise.
bool PulseAvailable();

// Runs a shell command on the host (Linux) and waits for it, at most
// timeoutMs; its standard output goes to output when that is given. False
// when it could not be started or did not finish in time.
bool RunHostCommand(const std::string& command, std::string* output = nullptr, unsigned timeoutMs = 15000);

// Finds the entry called name in the source's device list.
bool FindDevice(const SoundCapture& source, const std::string& name, DeviceEntry* entry);

// Waits until the channel has received at least frames frames, at most timeoutMs.
bool WaitForFrames(FakeChannel& channel, size_t frames, unsigned timeoutMs);

// Records, for every write, the time and the writing thread's CPU time.
class TimedChannel : public FakeChannel {
 public:
  bool Write(uint32_t type, const void* data, int32_t size) override;

  struct Stamp {
    double wallMs;  // from an arbitrary start
    double cpuMs;   // user and kernel time of the writing thread
    uint32_t threadId;
  };
  std::vector<Stamp> Stamps();

 private:
  std::mutex m_stampMutex;
  std::vector<Stamp> m_stamps;
};

// Measurements of channel 0 of interleaved stereo frames.
struct ToneMeasure {
  double rms = 0;        // root mean square, in sample units
  double frequency = 0;  // from the rising zero crossings, Hz
};
ToneMeasure MeasureTone(const std::vector<int16_t>& stereo, size_t firstFrame, size_t frames, double rate);
