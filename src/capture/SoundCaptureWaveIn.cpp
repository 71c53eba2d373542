#include <windows.h>
#include <mmsystem.h>

#include "capture/SoundCaptureWaveIn.h"
#include "capture/WaveInFunctions.h"

#include <vector>

#include "capture/CaptureMath.h"
#include "platform/Platform.h"
#include "platform/WinText.h"
#include "support/Diag.h"
#include "support/Log.h"

struct SoundCaptureWaveIn::Buffers {
  WAVEHDR header[BUFFER_COUNT];
};

namespace {
HWAVEIN AsHandle(void* handle) {
  return static_cast<HWAVEIN>(handle);
}

// The capabilities of device id (a device index or WAVE_MAPPER).
bool ReadCaps(const WaveInFunctions& api, UINT_PTR id, WAVEINCAPSA* caps) {
  ZeroMemory(caps, sizeof(*caps));
  return api.GetDevCaps(id, caps, sizeof(*caps)) == MMSYSERR_NOERROR;
}

// What a failed waveInOpen or waveInStart says about the device.
CaptureFailure OpenFailure(MMRESULT result) {
  switch (result) {
    case WAVERR_BADFORMAT:
      return CaptureFailure::FORMAT_REFUSED;
    case MMSYSERR_BADDEVICEID:
    case MMSYSERR_NODRIVER:
      return CaptureFailure::DEVICE_GONE;
    default:
      return CaptureFailure::START_FAILED;
  }
}
}  // namespace

namespace {
// Stand-ins for a system without winmm: no devices, every call refused.
UINT WINAPI NoDevices() {
  return 0;
}
MMRESULT WINAPI NoCaps(UINT_PTR, LPWAVEINCAPSA, UINT) {
  return MMSYSERR_NODRIVER;
}
MMRESULT WINAPI NoOpen(LPHWAVEIN, UINT, LPCWAVEFORMATEX, DWORD_PTR, DWORD_PTR, DWORD) {
  return MMSYSERR_NODRIVER;
}
MMRESULT WINAPI NoHeader(HWAVEIN, LPWAVEHDR, UINT) {
  return MMSYSERR_NODRIVER;
}
MMRESULT WINAPI NoCall(HWAVEIN) {
  return MMSYSERR_NODRIVER;
}

template <typename Fn>
void Bind(HMODULE library, const char* name, Fn* slot) {
  void* found = library != nullptr ? reinterpret_cast<void*>(GetProcAddress(library, name)) : nullptr;
  if (found != nullptr) *slot = reinterpret_cast<Fn>(found);
}
}  // namespace

// Bound at run time from the system folder: imported at load time, a stray
// winmm.dll beside the program would be loaded before the program starts.
const WaveInFunctions& SystemWaveInFunctions() {
  static const WaveInFunctions functions = [] {
    WaveInFunctions f = {&NoDevices, &NoCaps, &NoOpen, &NoHeader, &NoHeader, &NoHeader, &NoCall, &NoCall, &NoCall};
    HMODULE winmm = platform::LoadSystemLibrary(L"winmm.dll");
    if (winmm == nullptr) Log("winmm.dll cannot be loaded from the system folder: no waveIn devices\n");
    Bind(winmm, "waveInGetNumDevs", &f.GetNumDevs);
    Bind(winmm, "waveInGetDevCapsA", &f.GetDevCaps);
    Bind(winmm, "waveInOpen", &f.Open);
    Bind(winmm, "waveInPrepareHeader", &f.PrepareHeader);
    Bind(winmm, "waveInUnprepareHeader", &f.UnprepareHeader);
    Bind(winmm, "waveInAddBuffer", &f.AddBuffer);
    Bind(winmm, "waveInStart", &f.Start);
    Bind(winmm, "waveInReset", &f.Reset);
    Bind(winmm, "waveInClose", &f.Close);
    return f;
  }();
  return functions;
}

SoundCaptureWaveIn::SoundCaptureWaveIn(const Adpcm* adpcm, const CodecFunctions& codec, const WaveInFunctions* api)
    : DeviceSource("waveIn", adpcm, codec),
      m_api(api != nullptr ? *api : SystemWaveInFunctions()),
      m_headers(new Buffers()),
      m_event(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {
  ZeroMemory(m_headers->header, sizeof(m_headers->header));
}

SoundCaptureWaveIn::~SoundCaptureWaveIn() {
  ShutDown();
}

std::string SoundCaptureWaveIn::GetName() const {
  return "waveIn";
}

bool SoundCaptureWaveIn::EnumerateDevices() {
  ClearDeviceList();
  const UINT count = m_api.GetNumDevs();
  if (count == 0) {
    Log("waveInGetNumDevs() == 0\n");
    return true;
  }
  WAVEINCAPSA caps;
  // Entry 0 stays unnamed (id -1) when the mapper's capabilities cannot be read.
  if (ReadCaps(m_api, WAVE_MAPPER, &caps)) {
    AddDevice(GetTexts().fixedDevice, DeviceEntry::FIXED_DEVICE_ID);
  } else {
    AddDevice(std::string(), DeviceEntry::NO_DEVICE_ID);
  }
  for (UINT i = 0; i < count; ++i) {
    if (ReadCaps(m_api, i, &caps)) {
      AddDevice(caps.szPname, static_cast<int32_t>(i));
    } else {
      AddDevice(std::string(), DeviceEntry::NO_DEVICE_ID);
    }
  }
  return true;
}

bool SoundCaptureWaveIn::ResolveDevice(const DeviceEntry& device) {
  if (GetDeviceCount() == 0 || m_api.GetNumDevs() == 0) {
    SetFailure(CaptureFailure::NO_DEVICE);
    return false;
  }
  WAVEINCAPSA caps;
  if (device.id == DeviceEntry::NO_DEVICE_ID) {
    SetFailure(CaptureFailure::DEVICE_GONE);
    return false;
  }
  if (device.id == DeviceEntry::FIXED_DEVICE_ID) {
    m_deviceId = WAVE_MAPPER;
    Pipeline().SetInputRate(ReadCaps(m_api, WAVE_MAPPER, &caps) ? capture::BestWaveInRate(caps.dwFormats) : 0);
    return true;
  }
  const UINT count = m_api.GetNumDevs();
  if (count < 1 || device.id < 0 || static_cast<UINT>(device.id) >= count) {
    SetFailure(CaptureFailure::DEVICE_GONE);
    return false;
  }

  std::vector<std::string> names(count);
  std::vector<uint32_t> formats(count, 0);
  for (UINT i = 0; i < count; ++i) {
    if (ReadCaps(m_api, i, &caps)) {
      names[i] = caps.szPname;
      formats[i] = caps.dwFormats;
    }
  }
  const int32_t index = device.name.empty() ? -1 : capture::NearestIndexByName(names, device.name, device.id);
  if (index < 0) {
    m_deviceId = WAVE_MAPPER;
    Pipeline().SetInputRate(0);
  } else {
    m_deviceId = static_cast<uint32_t>(index);
    Pipeline().SetInputRate(capture::BestWaveInRate(formats[static_cast<size_t>(index)]));
  }
  NoteFallback(index < 0, device.name);
  return true;
}

bool SoundCaptureWaveIn::OpenDevice() {
  const int32_t outputRate = Pipeline().GetOutputRate();
  WAVEFORMATEX format;
  ZeroMemory(&format, sizeof(format));
  format.wFormatTag = WAVE_FORMAT_PCM;
  format.nChannels = capture::CHANNELS;
  format.nSamplesPerSec = static_cast<DWORD>(outputRate);
  format.nAvgBytesPerSec = static_cast<DWORD>(outputRate) * capture::BYTES_PER_FRAME;
  format.nBlockAlign = capture::BYTES_PER_FRAME;
  format.wBitsPerSample = 8 * capture::BYTES_PER_SAMPLE;
  format.cbSize = 0;
  HWAVEIN handle = nullptr;
  // The device sets the event for every buffer it fills; without an event
  // (none could be made) the worker looks every WAIT_MS.
  MMRESULT result = m_event.Get() != nullptr ? m_api.Open(&handle, m_deviceId, &format,
                                                          reinterpret_cast<DWORD_PTR>(m_event.Get()), 0, CALLBACK_EVENT)
                                             : m_api.Open(&handle, m_deviceId, &format, 0, 0, CALLBACK_NULL);
  if (result != MMSYSERR_NOERROR) {
    Log("waveInOpen failed. %s\n", capture::WaveInErrorName(result));
    SetFailure(OpenFailure(result));
    return false;
  }
  m_hWaveIn = handle;
  m_openedDeviceId = m_deviceId;

  const int32_t frames = capture::BlockFrames(outputRate, BUFFER_MS);
  const DWORD bytes = static_cast<DWORD>(frames) * capture::BYTES_PER_FRAME;
  for (int i = 0; i < BUFFER_COUNT; ++i) {
    QASSERT(m_buffer[i] == NULL);
    m_buffer[i].reset(new int16_t[static_cast<size_t>(frames) * capture::CHANNELS]());
    WAVEHDR& header = m_headers->header[i];
    ZeroMemory(&header, sizeof(header));
    header.lpData = reinterpret_cast<LPSTR>(m_buffer[i].get());
    header.dwBufferLength = bytes;
    header.dwBytesRecorded = 0;
    header.dwFlags = 0;
    result = m_api.PrepareHeader(handle, &header, sizeof(header));
    if (result != MMSYSERR_NOERROR) Log("waveInPrepareHeader failed. %s\n", capture::WaveInErrorName(result));
    result = m_api.AddBuffer(handle, &header, sizeof(header));
    if (result != MMSYSERR_NOERROR) Log("waveInAddBuffer failed. %s\n", capture::WaveInErrorName(result));
  }
  return true;
}

bool SoundCaptureWaveIn::StartDevice() {
  MMRESULT result = m_api.Start(AsHandle(m_hWaveIn));
  if (result != MMSYSERR_NOERROR) {
    Log("waveInStart failed. %s\n", capture::WaveInErrorName(result));
    SetFailure(OpenFailure(result));
    return false;
  }
  return true;
}

void SoundCaptureWaveIn::CloseDevice() {
  if (m_hWaveIn != nullptr) {
    HWAVEIN handle = AsHandle(m_hWaveIn);
    MMRESULT result = m_api.Reset(handle);
    if (result != MMSYSERR_NOERROR) Log("waveInReset failed. %s\n", capture::WaveInErrorName(result));
    for (int i = 0; i < BUFFER_COUNT; ++i) {
      if (m_buffer[i] == nullptr) continue;
      WAVEHDR& header = m_headers->header[i];
      result = m_api.UnprepareHeader(handle, &header, sizeof(header));
      if (result != MMSYSERR_NOERROR) Log("waveInUnprepareHeader failed. %s\n", capture::WaveInErrorName(result));
      header.lpData = nullptr;
    }
    result = m_api.Close(handle);
    if (result != MMSYSERR_NOERROR) {
      Log("waveInClose failed. %s\n", capture::WaveInErrorName(result));
      // The driver still holds the buffers it was given and may write into
      // them: they are left to it rather than freed under it.
      for (int i = 0; i < BUFFER_COUNT; ++i) (void)m_buffer[i].release();
    }
    m_hWaveIn = nullptr;
  }
  // Buffers left by a failed open.
  for (int i = 0; i < BUFFER_COUNT; ++i) m_buffer[i].reset();
}

void SoundCaptureWaveIn::WakeWorker() {
  if (m_event.Get() != nullptr) SetEvent(m_event.Get());
}

bool SoundCaptureWaveIn::TakeBuffer(int index, uint32_t counter) {
  HWAVEIN handle = AsHandle(m_hWaveIn);
  WAVEHDR& header = m_headers->header[index];
  const int32_t frames = static_cast<int32_t>(header.dwBufferLength / capture::BYTES_PER_FRAME);

  MMRESULT result = m_api.UnprepareHeader(handle, &header, sizeof(header));
  // The driver may not have marked the full buffer done yet.
  while (result == WAVERR_STILLPLAYING && IsActive()) {
    GetClock().SleepMs(POLL_MS);
    result = m_api.UnprepareHeader(handle, &header, sizeof(header));
  }
  if (result != MMSYSERR_NOERROR) {
    Log("waveInUnprepareHeader %d, %d, failed. %s\n", static_cast<int>(counter),
        static_cast<int>(header.dwBytesRecorded), capture::WaveInErrorName(result));
    return false;
  }

  // Recorded at the output rate: the block path sends it as it is.
  ProcessCaptured(m_buffer[index].get(), frames);

  header.dwBytesRecorded = 0;
  result = m_api.PrepareHeader(handle, &header, sizeof(header));
  if (result != MMSYSERR_NOERROR) {
    Log("waveInPrepareHeader %d, failed. %s\n", static_cast<int>(counter), capture::WaveInErrorName(result));
    return false;
  }
  result = m_api.AddBuffer(handle, &header, sizeof(header));
  if (result != MMSYSERR_NOERROR) {
    Log("waveInAddBuffer %d failed. %s\n", static_cast<int>(counter), capture::WaveInErrorName(result));
    return false;
  }
  return true;
}

// A buffer is late when the worker, woken, finds it done behind another done
// one: the driver filled two or more while the worker was away, so the ring
// came that much nearer to overrunning. Each buffer after the first of such
// a run counts once.
bool SoundCaptureWaveIn::RunWorker() {
  uint32_t counter = 0;
  uint64_t lastBuffer = GetClock().NowMs();
  bool tookSinceWait = false;
  bool failed = false;
  while (IsActive()) {
    const int index = static_cast<int>(counter % BUFFER_COUNT);
    const WAVEHDR& header = m_headers->header[index];
    if (header.dwBufferLength > 0 && header.dwBytesRecorded >= header.dwBufferLength) {
      if (tookSinceWait) Stats().CountLate(1);
      if (!TakeBuffer(index, counter)) {
        failed = true;
        break;
      }
      ++counter;
      tookSinceWait = true;
      lastBuffer = GetClock().NowMs();
      continue;
    }
    if (GetClock().NowMs() - lastBuffer > STALL_MS) {
      Log("waveIn: no buffer filled for %u ms, device lost\n", static_cast<unsigned>(STALL_MS));
      failed = true;
      break;
    }
    tookSinceWait = false;
    // Once per filled buffer: the device sets the event as it hands one back
    // (Stop sets it too). The event may have been set for a buffer taken
    // already; the loop then only looks and waits again.
    if (m_event.Get() != nullptr) {
      WaitForSingleObject(m_event.Get(), WAIT_MS);
    } else {
      GetClock().SleepMs(POLL_MS);
    }
  }
  return !failed;
}
