#include <windows.h>

#include "LiveCaptureUtil.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "capture/SoundCapture.h"
#include "platform/Platform.h"

bool PulseAvailable() {
  std::string value;
  return platform::GetEnv("QUILL_PULSE", &value) && value == "1";
}

bool RunHostCommand(const std::string& command, std::string* output, unsigned timeoutMs) {
  static int counter = 0;
  std::string dir;
  if (!platform::GetEnv("QUILL_LIVE_DIR", &dir) || dir.empty()) return false;
  const int n = ++counter;
  const std::string script = dir + "/cmd-" + std::to_string(n) + ".sh";
  const std::string done = dir + "/done-" + std::to_string(n);
  const std::string result = dir + "/out-" + std::to_string(n);
  {
    // Wine reads Unix paths through drive Z:.
    std::ofstream out("Z:" + script, std::ios::binary);
    out << "export XDG_RUNTIME_DIR='" << dir << "/xdg'\n"
        << "{ " << command << "; } >'" << result << "' 2>/dev/null\n"
        << "touch '" << done << "'\n";
    if (!out) return false;
  }
  // Wine starts a Unix program by its path, but gives no handle to wait on:
  // the script leaves a marker when it is done.
  std::string line = "/bin/sh " + script;
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof(startup));
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process;
  ZeroMemory(&process, sizeof(process));
  if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return false;
  }
  if (process.hProcess != nullptr) CloseHandle(process.hProcess);
  if (process.hThread != nullptr) CloseHandle(process.hThread);
  const std::string marker = "Z:" + done;
  for (unsigned waited = 0; waited < timeoutMs; waited += 50) {
    if (GetFileAttributesA(marker.c_str()) != INVALID_FILE_ATTRIBUTES) {
      if (output != nullptr) {
        std::ifstream in("Z:" + result, std::ios::binary);
        output->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
      }
      return true;
    }
    Sleep(50);
  }
  return false;
}

bool FindDevice(const SoundCapture& source, const std::string& name, DeviceEntry* entry) {
  for (int32_t i = 0; i < source.GetDeviceCount(); ++i) {
    if (source.GetDevice(i).name == name) {
      *entry = source.GetDevice(i);
      return true;
    }
  }
  return false;
}

bool WaitForFrames(FakeChannel& channel, size_t frames, unsigned timeoutMs) {
  for (unsigned waited = 0; waited < timeoutMs; waited += 20) {
    if (channel.StreamFrames() >= frames) return true;
    Sleep(20);
  }
  return channel.StreamFrames() >= frames;
}

namespace {
double NowMs() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

double FileTimeMs(const FILETIME& time) {
  ULARGE_INTEGER value;
  value.LowPart = time.dwLowDateTime;
  value.HighPart = time.dwHighDateTime;
  return static_cast<double>(value.QuadPart) / 10000.0;
}
}  // namespace

bool TimedChannel::Write(uint32_t type, const void* data, int32_t size) {
  Stamp stamp;
  stamp.wallMs = NowMs();
  FILETIME creation, exit, kernel, user;
  stamp.cpuMs = GetThreadTimes(GetCurrentThread(), &creation, &exit, &kernel, &user)
                    ? FileTimeMs(kernel) + FileTimeMs(user)
                    : 0.0;
  stamp.threadId = GetCurrentThreadId();
  {
    std::lock_guard<std::mutex> lock(m_stampMutex);
    m_stamps.push_back(stamp);
  }
  return FakeChannel::Write(type, data, size);
}

std::vector<TimedChannel::Stamp> TimedChannel::Stamps() {
  std::lock_guard<std::mutex> lock(m_stampMutex);
  return m_stamps;
}

ToneMeasure MeasureTone(const std::vector<int16_t>& stereo, size_t firstFrame, size_t frames, double rate) {
  ToneMeasure measure;
  const size_t total = stereo.size() / 2;
  if (firstFrame >= total) return measure;
  if (frames > total - firstFrame) frames = total - firstFrame;
  if (frames < 2) return measure;

  double sum = 0;
  for (size_t i = 0; i < frames; ++i) {
    const double s = stereo[(firstFrame + i) * 2];
    sum += s * s;
  }
  measure.rms = std::sqrt(sum / static_cast<double>(frames));

  // Rising zero crossings, each placed between its two samples.
  double first = -1, last = -1;
  int crossings = 0;
  for (size_t i = 1; i < frames; ++i) {
    const double a = stereo[(firstFrame + i - 1) * 2];
    const double b = stereo[(firstFrame + i) * 2];
    if (a < 0 && b >= 0) {
      const double at = static_cast<double>(i - 1) + (-a) / (b - a);
      if (first < 0) first = at;
      last = at;
      ++crossings;
    }
  }
  if (crossings >= 2 && last > first) measure.frequency = (crossings - 1) * rate / (last - first);
  return measure;
}
