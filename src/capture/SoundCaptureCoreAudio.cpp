#include <windows.h>
#include <mmdeviceapi.h>
#include <audioclient.h>
#include <propidl.h>

#include "capture/SoundCaptureCoreAudio.h"

#include <cstring>
#include <vector>

#include "platform/Platform.h"
#include "support/Diag.h"
#include "support/Log.h"

namespace {
// The identifiers are spelled out here so that the program needs no import
// library for them.
const CLSID kClsidMMDeviceEnumerator = {0xBCDE0395, 0xE52F, 0x467C, {0x8E, 0x3D, 0xC4, 0x57, 0x92, 0x91, 0x69, 0x2E}};
const IID kIidIMMDeviceEnumerator = {0xA95664D2, 0x9614, 0x4F35, {0xA7, 0x46, 0xDE, 0x8D, 0xB6, 0x36, 0x17, 0xE6}};
const IID kIidIAudioClient = {0x1CB9AD4C, 0xDBFA, 0x4C32, {0xB1, 0x78, 0xC2, 0xF5, 0x68, 0xA7, 0x03, 0xB2}};
const IID kIidIAudioCaptureClient = {0xC8ADBD64, 0xE71E, 0x48A0, {0xA4, 0xDE, 0x18, 0x5C, 0x39, 0x5C, 0xD3, 0x17}};
const PROPERTYKEY kDeviceFriendlyName = {{0xA45C254E, 0xDF1C, 0x4EFD, {0x80, 0x20, 0x67, 0xD1, 0x46, 0xA8, 0x50, 0xE0}},
                                         14};

unsigned Hex(HRESULT hr) {
  return static_cast<unsigned>(hr);
}

using platform::ComPtr;

// The endpoint's friendly name in the ANSI code page; empty when it cannot be read.
std::string FriendlyName(IMMDevice* device) {
  ComPtr<IPropertyStore> store;
  HRESULT hr = device->OpenPropertyStore(STGM_READ, store.Put());
  if (FAILED(hr)) {
    (void)store.Detach();
    Log("IMMDevice::OpenPropertyStore failed: hr = 0x%08x\n", Hex(hr));
    return std::string();
  }
  PROPVARIANT value;
  PropVariantInit(&value);
  hr = store->GetValue(kDeviceFriendlyName, &value);
  store.Reset();
  if (FAILED(hr)) {
    Log("IPropertyStore::GetValue failed: hr = 0x%08x\n", Hex(hr));
    return std::string();
  }
  if (value.vt != VT_LPWSTR) {
    Log("PKEY_Device_FriendlyName variant type is %u - expected VT_LPWSTR\n", static_cast<unsigned>(value.vt));
    PropVariantClear(&value);
    return std::string();
  }
  std::string name = platform::WideToAnsi(value.pwszVal);
  PropVariantClear(&value);
  return name;
}

ComPtr<IMMDeviceEnumerator> CreateEnumerator(SoundCaptureCoreAudio::EnumeratorFactory factory) {
  void* enumerator = nullptr;
  HRESULT hr = factory(&enumerator);
  if (FAILED(hr) || enumerator == nullptr) {
    Log("CoCreateInstance failed: hr = 0x%08x\n", Hex(hr));
    return ComPtr<IMMDeviceEnumerator>();
  }
  return ComPtr<IMMDeviceEnumerator>(static_cast<IMMDeviceEnumerator*>(enumerator));
}

// The active endpoints of flow and their count; null (printed) on failure.
ComPtr<IMMDeviceCollection> ActiveEndpoints(IMMDeviceEnumerator* enumerator, int32_t flow, UINT* count) {
  ComPtr<IMMDeviceCollection> collection;
  HRESULT hr = enumerator->EnumAudioEndpoints(static_cast<EDataFlow>(flow), DEVICE_STATE_ACTIVE, collection.Put());
  if (FAILED(hr)) {
    (void)collection.Detach();
    Log("IMMDeviceEnumerator::EnumAudioEndpoints failed: hr = 0x%08x\n", Hex(hr));
    return ComPtr<IMMDeviceCollection>();
  }
  *count = 0;
  hr = collection->GetCount(count);
  if (FAILED(hr)) {
    Log("IMMDeviceCollection::GetCount failed: hr = 0x%08x\n", Hex(hr));
    return ComPtr<IMMDeviceCollection>();
  }
  return collection;
}

// Endpoint index of collection; null (printed) on failure.
ComPtr<IMMDevice> EndpointAt(IMMDeviceCollection* collection, UINT index) {
  ComPtr<IMMDevice> device;
  HRESULT hr = collection->Item(index, device.Put());
  if (FAILED(hr)) {
    (void)device.Detach();
    Log("IMMDeviceCollection::Item %d failed: hr = 0x%08x\n", static_cast<int>(index), Hex(hr));
  }
  return device;
}

// What a failed call says about the endpoint.
CaptureFailure FailureOf(HRESULT hr) {
  switch (hr) {
    case AUDCLNT_E_UNSUPPORTED_FORMAT:
      return CaptureFailure::FORMAT_REFUSED;
    case AUDCLNT_E_DEVICE_INVALIDATED:
    case AUDCLNT_E_ENDPOINT_CREATE_FAILED:  // unplugged, disabled or reconfigured
    case AUDCLNT_E_SERVICE_NOT_RUNNING:
      return CaptureFailure::DEVICE_GONE;
    default:
      return CaptureFailure::START_FAILED;
  }
}

ComPtr<IMMDevice> DefaultEndpoint(IMMDeviceEnumerator* enumerator, int32_t flow) {
  ComPtr<IMMDevice> device;
  HRESULT hr = enumerator->GetDefaultAudioEndpoint(static_cast<EDataFlow>(flow), eConsole, device.Put());
  if (FAILED(hr)) {
    (void)device.Detach();
    Log("IMMDeviceEnumerator::GetDefaultAudioEndpoint failed: hr = 0x%08x\n", Hex(hr));
  }
  return device;
}
}  // namespace

long SoundCaptureCoreAudio::CreateSystemEnumerator(void** enumerator) {
  return CoCreateInstance(kClsidMMDeviceEnumerator, nullptr, CLSCTX_ALL, kIidIMMDeviceEnumerator, enumerator);
}

SoundCaptureCoreAudio::SoundCaptureCoreAudio(const Adpcm* adpcm, const CodecFunctions& codec, EnumeratorFactory factory)
    : DeviceSource("Core Audio", adpcm, codec),
      m_createEnumerator(factory),
      m_event(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {}

SoundCaptureCoreAudio::~SoundCaptureCoreAudio() {
  ShutDown();
  m_device.Reset();
}

bool SoundCaptureCoreAudio::InitializeLoopback() {
  QASSERT(m_deviceType == -1);
  m_deviceType = TYPE_LOOPBACK;
  return EnumerateDevices();
}

bool SoundCaptureCoreAudio::InitializeCapture() {
  QASSERT(m_deviceType == -1);
  m_deviceType = TYPE_CAPTURE;
  return EnumerateDevices();
}

std::string SoundCaptureCoreAudio::GetName() const {
  if (m_deviceType == TYPE_CAPTURE) return "Core Audio";
  if (m_deviceType == TYPE_LOOPBACK) return "loopback";
  return std::string();
}

bool SoundCaptureCoreAudio::EnumerateDevices() {
  ClearDeviceList();
  if (m_deviceType == TYPE_NONE) return false;

  const ComPtr<IMMDeviceEnumerator> enumerator = CreateEnumerator(m_createEnumerator);
  if (!enumerator) return false;
  UINT count = 0;
  ComPtr<IMMDeviceCollection> collection = ActiveEndpoints(enumerator.Get(), m_deviceType, &count);
  if (!collection) return false;
  if (count == 0) {
    Log("IMMDeviceCollection::GetCount == 0\n");
    return true;
  }

  std::vector<DeviceEntry> entries(static_cast<size_t>(count) + 1);
  // An entry whose name cannot be read keeps its previous id.
  auto setEntry = [&entries, this](size_t index, IMMDevice* device, int32_t id) {
    const std::string name = id == DeviceEntry::FIXED_DEVICE_ID ? GetTexts().fixedDevice : FriendlyName(device);
    entries[index].name = name;
    if (name.empty()) return false;
    entries[index].id = id;
    return true;
  };
  size_t next = 1;
  for (UINT i = 0; i < count; ++i) {
    const ComPtr<IMMDevice> device = EndpointAt(collection.Get(), i);
    if (device) setEntry(next++, device.Get(), static_cast<int32_t>(i));
  }
  collection.Reset();

  const ComPtr<IMMDevice> fixed = DefaultEndpoint(enumerator.Get(), m_deviceType);
  if (fixed) setEntry(0, fixed.Get(), DeviceEntry::FIXED_DEVICE_ID);

  for (const DeviceEntry& entry : entries) AddDevice(entry.name, entry.id);
  return true;
}

bool SoundCaptureCoreAudio::ResolveDevice(const DeviceEntry& device) {
  // The same entry again while its endpoint is reported gone: the idle
  // tick's retry. An endpoint that went away can stay listed, and its stream
  // then fails with a general error (Wine's loopback stream: E_FAIL) until it
  // is back; that is still the device being gone.
  m_afterLoss =
      GetFailure() == CaptureFailure::DEVICE_GONE && device.name == m_lastDevice.name && device.id == m_lastDevice.id;
  m_lastDevice = device;
  m_device.Reset();
  if (GetDeviceCount() == 0) {
    SetFailure(CaptureFailure::NO_DEVICE);
    return false;
  }
  if (device.id == DeviceEntry::NO_DEVICE_ID) {
    SetFailure(CaptureFailure::DEVICE_GONE);
    return false;
  }

  const ComPtr<IMMDeviceEnumerator> enumerator = CreateEnumerator(m_createEnumerator);
  if (!enumerator) {
    SetFailure(CaptureFailure::START_FAILED);
    return false;
  }

  // Without an endpoint of the mode's flow at all there is no device;
  // otherwise the chosen one has gone.
  bool noEndpoints = false;
  if (device.id == DeviceEntry::FIXED_DEVICE_ID) {
    m_device = DefaultEndpoint(enumerator.Get(), m_deviceType);
    noEndpoints = !m_device;
  } else {
    UINT count = 0;
    const ComPtr<IMMDeviceCollection> collection = ActiveEndpoints(enumerator.Get(), m_deviceType, &count);
    if (!collection) {
      SetFailure(CaptureFailure::START_FAILED);
      return false;
    }
    // The endpoint with the entry's name nearest to its index.
    std::vector<std::string> names(count);
    for (UINT i = 0; i < count; ++i) {
      const ComPtr<IMMDevice> candidate = EndpointAt(collection.Get(), i);
      if (candidate) names[i] = FriendlyName(candidate.Get());
    }
    const int32_t index = device.name.empty() ? -1 : capture::NearestIndexByName(names, device.name, device.id);
    if (index >= 0) m_device = EndpointAt(collection.Get(), static_cast<UINT>(index));
    noEndpoints = count == 0;
  }
  if (!m_device) SetFailure(noEndpoints ? CaptureFailure::NO_DEVICE : CaptureFailure::DEVICE_GONE);
  return static_cast<bool>(m_device);
}

CaptureFailure SoundCaptureCoreAudio::StartFailure(long hr) const {
  const CaptureFailure failure = FailureOf(hr);
  return failure == CaptureFailure::START_FAILED && m_afterLoss ? CaptureFailure::DEVICE_GONE : failure;
}

bool SoundCaptureCoreAudio::OpenDevice() {
  std::vector<uint8_t> format;
  return ActivateClient() && ChooseFormat(&format) && InitializeClient(format) && OpenCaptureClient();
}

bool SoundCaptureCoreAudio::ActivateClient() {
  HRESULT hr = m_device->Activate(kIidIAudioClient, CLSCTX_ALL, nullptr, m_audioClient.PutVoid());
  if (FAILED(hr)) {
    (void)m_audioClient.Detach();
    Log("IMMDevice::Activate failed: hr = 0x%08x\n", Hex(hr));
    SetFailure(StartFailure(hr));
    return false;
  }
  return true;
}

// The stream is opened at the mix format itself unless that is stereo 16-bit
// already (shared mode takes the mix format from every endpoint); the worker
// folds it to stereo 16-bit. Sets up the mixer, the converter from the mix
// rate and the block buffer; format receives the WAVEFORMATEX (or
// WAVEFORMATEXTENSIBLE) to open.
bool SoundCaptureCoreAudio::ChooseFormat(std::vector<uint8_t>* format) {
  WAVEFORMATEX* mix = nullptr;
  HRESULT hr = m_audioClient->GetMixFormat(&mix);
  if (FAILED(hr) || mix == nullptr) {
    Log("IAudioClient::GetMixFormat failed: hr = 0x%08x\n", Hex(hr));
    SetFailure(StartFailure(hr));
    return false;
  }
  // Only an extensible record's cbSize counts (it must hold the extension);
  // that of a plain one may be anything.
  const bool extensible = mix->wFormatTag == WAVE_FORMAT_EXTENSIBLE && mix->cbSize >= 22;
  std::vector<uint8_t> mixCopy(extensible ? sizeof(WAVEFORMATEXTENSIBLE) : sizeof(WAVEFORMATEX));
  memcpy(mixCopy.data(), mix, mixCopy.size());
  CoTaskMemFree(mix);
  reinterpret_cast<WAVEFORMATEX*>(mixCopy.data())->cbSize = extensible ? 22 : 0;
  const WAVEFORMATEX& mixFormat = *reinterpret_cast<const WAVEFORMATEX*>(mixCopy.data());
  const DWORD mixRate = mixFormat.nSamplesPerSec;
  if (mixRate == 0 || mixRate > 0x7FFFFFFF / capture::BYTES_PER_FRAME) {
    Log("IAudioClient::GetMixFormat: rate %u\n", static_cast<unsigned>(mixRate));
    SetFailure(CaptureFailure::FORMAT_REFUSED);
    return false;
  }
  capture::ChannelMixer::Format layout;
  layout.tag = mixFormat.wFormatTag;
  layout.channels = mixFormat.nChannels;
  layout.bitsPerSample = mixFormat.wBitsPerSample;
  layout.blockAlign = mixFormat.nBlockAlign;
  if (extensible) {
    const auto& extension = *reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(mixCopy.data());
    // A sub-format of the wave format family: {0000xxxx-0000-0010-8000-00AA00389B71}.
    static const unsigned char kFamily[8] = {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    const GUID& sub = extension.SubFormat;
    const bool family =
        sub.Data1 <= 0xFFFF && sub.Data2 == 0 && sub.Data3 == 0x10 && memcmp(sub.Data4, kFamily, 8) == 0;
    layout.subFormat = family ? static_cast<uint16_t>(sub.Data1) : 0;
    layout.channelMask = extension.dwChannelMask;
  }
  if (!m_mixer.Setup(layout)) {
    Log("IAudioClient::GetMixFormat: format 0x%04x, %u channels, %u bits cannot be read\n",
        static_cast<unsigned>(layout.tag), static_cast<unsigned>(layout.channels),
        static_cast<unsigned>(layout.bitsPerSample));
    SetFailure(CaptureFailure::FORMAT_REFUSED);
    return false;
  }
  Pipeline().SetupConverter(static_cast<int32_t>(mixRate));
  m_block.Setup(static_cast<uint32_t>(capture::BlockFrames(static_cast<int32_t>(mixRate), BLOCK_MS)));

  if (m_mixer.IsPassThrough()) {
    WAVEFORMATEX stereo;
    ZeroMemory(&stereo, sizeof(stereo));
    stereo.wFormatTag = WAVE_FORMAT_PCM;
    stereo.nChannels = capture::CHANNELS;
    stereo.nSamplesPerSec = mixRate;
    stereo.nAvgBytesPerSec = mixRate * capture::BYTES_PER_FRAME;
    stereo.nBlockAlign = capture::BYTES_PER_FRAME;
    stereo.wBitsPerSample = 8 * capture::BYTES_PER_SAMPLE;
    stereo.cbSize = 0;
    format->resize(sizeof(stereo));
    memcpy(format->data(), &stereo, sizeof(stereo));
  } else {
    Log("Core Audio: recording the mix format (0x%04x, %u channels, %u bits) and folding it to stereo\n",
        static_cast<unsigned>(layout.tag), static_cast<unsigned>(layout.channels),
        static_cast<unsigned>(layout.bitsPerSample));
    *format = std::move(mixCopy);
  }
  return true;
}

bool SoundCaptureCoreAudio::InitializeClient(const std::vector<uint8_t>& format) {
  REFERENCE_TIME duration = BUFFER_DURATION;
  REFERENCE_TIME minimumPeriod = 0;
  if (SUCCEEDED(m_audioClient->GetDevicePeriod(nullptr, &minimumPeriod)) && minimumPeriod > duration) {
    duration = minimumPeriod;
  }
  // A capture endpoint's stream wakes the worker by its event once per
  // period; a loopback stream is looked at every POLL_MS (not every system
  // sets a loopback stream's event reliably).
  m_eventDriven = m_deviceType == TYPE_CAPTURE && m_event.Get() != nullptr;
  const DWORD flags = m_deviceType == TYPE_LOOPBACK ? AUDCLNT_STREAMFLAGS_LOOPBACK
                                                    : (m_eventDriven ? AUDCLNT_STREAMFLAGS_EVENTCALLBACK : 0);
  HRESULT hr = m_audioClient->Initialize(AUDCLNT_SHAREMODE_SHARED, flags, duration, 0,
                                         reinterpret_cast<const WAVEFORMATEX*>(format.data()), nullptr);
  if (FAILED(hr)) {
    Log("IAudioClient::Initialize failed: hr = 0x%08x\n", Hex(hr));
    SetFailure(StartFailure(hr));
    return false;
  }
  if (m_eventDriven) {
    hr = m_audioClient->SetEventHandle(m_event.Get());
    if (FAILED(hr)) {
      // The stream then sets no event: the worker looks every POLL_MS.
      Log("IAudioClient::SetEventHandle failed: hr = 0x%08x; polling\n", Hex(hr));
      m_eventDriven = false;
    }
  }
  return true;
}

bool SoundCaptureCoreAudio::OpenCaptureClient() {
  HRESULT hr = m_audioClient->GetService(kIidIAudioCaptureClient, m_captureClient.PutVoid());
  if (FAILED(hr)) {
    (void)m_captureClient.Detach();
    Log("IAudioClient::GetService failed: hr = 0x%08x\n", Hex(hr));
    SetFailure(StartFailure(hr));
    return false;
  }
  return true;
}

bool SoundCaptureCoreAudio::StartClient() {
  HRESULT hr = m_audioClient->Start();
  if (FAILED(hr)) {
    Log("IAudioClient::Start failed: hr = 0x%08x\n", Hex(hr));
    SetFailure(StartFailure(hr));
    return false;
  }
  return true;
}

void SoundCaptureCoreAudio::ReleaseInterfaces() {
  m_captureClient.Reset();
  m_audioClient.Reset();
  m_device.Reset();
}

void SoundCaptureCoreAudio::CloseDevice() {
  ReleaseInterfaces();
  m_block.Free();
}

void SoundCaptureCoreAudio::WakeWorker() {
  if (m_event.Get() != nullptr) SetEvent(m_event.Get());
}

void SoundCaptureCoreAudio::OnBlock(int16_t* frames, int32_t frameCount) {
  ProcessCaptured(frames, frameCount);
}

bool SoundCaptureCoreAudio::RunWorker() {
  m_block.ResetEmptyPolls();
  uint64_t lastPacket = GetClock().NowMs();
  bool failed = false;
  while (IsActive()) {
    UINT32 packetFrames = 0;
    HRESULT hr = m_captureClient->GetNextPacketSize(&packetFrames);
    if (FAILED(hr)) {
      Log("IAudioCaptureClient::GetNextPacketSize failed: hr = 0x%08x\n", Hex(hr));
      failed = true;
      break;
    }
    if (packetFrames == 0) {
      // A stream whose endpoint went away between two packets can go on
      // saying it has none (Wine's does); the padding query reports it.
      UINT32 padding = 0;
      hr = m_audioClient->GetCurrentPadding(&padding);
      if (FAILED(hr)) {
        Log("IAudioClient::GetCurrentPadding failed: hr = 0x%08x\n", Hex(hr));
        failed = true;
        break;
      }
      // About 200 ms without data: hand on what was gathered (and let the
      // levels fall to 0 while nothing plays).
      if (m_block.CountEmptyPoll()) {
        if (m_block.GetFill() > 0) Stats().CountShortBlock();
        m_block.Flush(*this);
      }
      if (m_deviceType == TYPE_CAPTURE && GetClock().NowMs() - lastPacket > STALL_MS) {
        Log("IAudioCaptureClient: no packet for %u ms, device lost\n", static_cast<unsigned>(STALL_MS));
        failed = true;
        break;
      }
      // Until the next period's event (or Stop's), at most POLL_MS, which
      // counts as one empty poll like a sleep.
      if (m_eventDriven) {
        WaitForSingleObject(m_event.Get(), POLL_MS);
      } else {
        GetClock().SleepMs(POLL_MS);
      }
      continue;
    }

    BYTE* data = nullptr;
    UINT32 frames = 0;
    DWORD bufferFlags = 0;
    hr = m_captureClient->GetBuffer(&data, &frames, &bufferFlags, nullptr, nullptr);
    if (FAILED(hr)) {
      Log("IAudioCaptureClient::GetBuffer failed: hr = 0x%08x\n", Hex(hr));
      failed = true;
      break;
    }
    // The packet is copied and given back at once, so that the endpoint's
    // buffer is not held while the block path converts, encodes and writes.
    // The data of a packet marked silent is to be ignored.
    const bool silent = (bufferFlags & AUDCLNT_BUFFERFLAGS_SILENT) != 0 || data == nullptr;
    const size_t packetBytes = static_cast<size_t>(frames) * m_mixer.GetBlockAlign();
    if (!silent) {
      if (m_packet.size() < packetBytes) m_packet.resize(packetBytes);
      memcpy(m_packet.data(), data, packetBytes);
    }
    hr = m_captureClient->ReleaseBuffer(frames);
    if (FAILED(hr)) {
      Log("IAudioCaptureClient::ReleaseBuffer failed: hr = 0x%08x\n", Hex(hr));
      failed = true;
      break;
    }
    if ((bufferFlags & AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY) != 0) Stats().CountDiscontinuity();
    if (silent) {
      m_block.AppendSilence(frames, *this);
    } else if (m_mixer.IsPassThrough()) {
      // The packet is stereo 16-bit already.
      m_block.Append(reinterpret_cast<const int16_t*>(m_packet.data()), frames, *this);
    } else {
      const size_t mixedSamples = static_cast<size_t>(frames) * capture::CHANNELS;
      if (m_mixed.size() < mixedSamples) m_mixed.resize(mixedSamples);
      m_mixer.Mix(m_packet.data(), frames, m_mixed.data());
      m_block.Append(m_mixed.data(), frames, *this);
    }
    m_block.ResetEmptyPolls();
    lastPacket = GetClock().NowMs();
  }
  return !failed;
}
