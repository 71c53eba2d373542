#include "FakeCoreAudio.h"

#include <algorithm>
#include <cstring>

#include "platform/Platform.h"

// COM interfaces have no virtual destructor; the fakes delete themselves
// through their own class in Release.
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

namespace {

const PROPERTYKEY kFriendlyName = {{0xA45C254E, 0xDF1C, 0x4EFD, {0x80, 0x20, 0x67, 0xD1, 0x46, 0xA8, 0x50, 0xE0}}, 14};

// IUnknown for one interface, counted in the fake system's live objects.
template <typename Interface>
class Fake : public Interface {
 public:
  Fake() { FakeAudio::Get().Live()++; }
  virtual ~Fake() { FakeAudio::Get().Live()--; }
  Fake(const Fake&) = delete;
  Fake& operator=(const Fake&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == __uuidof(IUnknown) || iid == __uuidof(Interface)) {
      *out = static_cast<Interface*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --m_refs;
    if (left == 0) delete this;
    return left;
  }

 private:
  std::atomic<ULONG> m_refs{1};
};

class FakeStore : public Fake<IPropertyStore> {
 public:
  explicit FakeStore(const FakeEndpoint& endpoint) : m_endpoint(endpoint) {}
  HRESULT STDMETHODCALLTYPE GetCount(DWORD* count) override {
    *count = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetAt(DWORD, PROPERTYKEY* key) override {
    *key = kFriendlyName;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetValue(REFPROPERTYKEY key, PROPVARIANT* value) override {
    PropVariantInit(value);
    if (!(key.fmtid == kFriendlyName.fmtid && key.pid == kFriendlyName.pid)) return S_OK;
    if (!m_endpoint.nameIsWide) {
      value->vt = VT_UI4;
      value->ulVal = 7;
      return S_OK;
    }
    const size_t bytes = (m_endpoint.name.size() + 1) * sizeof(wchar_t);
    value->pwszVal = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    memcpy(value->pwszVal, m_endpoint.name.c_str(), bytes);
    value->vt = VT_LPWSTR;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetValue(REFPROPERTYKEY, REFPROPVARIANT) override { return STG_E_ACCESSDENIED; }
  HRESULT STDMETHODCALLTYPE Commit() override { return S_OK; }

 private:
  FakeEndpoint m_endpoint;
};

class FakeCaptureClient : public Fake<IAudioCaptureClient> {
 public:
  HRESULT STDMETHODCALLTYPE GetBuffer(BYTE** data, UINT32* frames, DWORD* flags, UINT64*, UINT64*) override {
    FakeAudio& audio = FakeAudio::Get();
    std::lock_guard<std::mutex> lock(audio.Lock());
    if (audio.fail.getBuffer != S_OK) return audio.fail.getBuffer;
    if (audio.m_packets.empty()) return AUDCLNT_S_BUFFER_EMPTY;
    const FakePacket& packet = audio.m_packets.front();
    // Sample i (all channels counted) is first + i on the 16-bit scale, in
    // the mix format's sample kind.
    const FakeMix& mix = audio.mix;
    const size_t bytes = mix.bits / 8u;
    const size_t samples = static_cast<size_t>(packet.frames) * mix.channels;
    m_data.assign(samples * bytes, 0);
    for (size_t i = 0; i < samples; ++i) {
      const int16_t v = static_cast<int16_t>(packet.first + static_cast<int>(i));
      uint8_t* p = m_data.data() + i * bytes;
      if (mix.isFloat) {
        const float f = static_cast<float>(v) / 32768.0f;
        memcpy(p, &f, 4);
      } else {
        const int32_t scaled = static_cast<int32_t>(static_cast<uint32_t>(static_cast<int32_t>(v)) << (mix.bits - 16));
        memcpy(p, &scaled, bytes);
      }
    }
    *data = m_data.data();
    *frames = packet.frames;
    *flags = packet.flags;
    audio.m_record.getBuffers++;
    if ((packet.flags & AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY) != 0) audio.m_record.discontinuities++;
    audio.m_held = true;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ReleaseBuffer(UINT32 frames) override {
    FakeAudio& audio = FakeAudio::Get();
    std::lock_guard<std::mutex> lock(audio.Lock());
    audio.m_record.releaseBuffers++;
    if (audio.fail.releaseBuffer != S_OK) return audio.fail.releaseBuffer;
    if (audio.m_packets.empty() || audio.m_packets.front().frames != frames) return AUDCLNT_E_INVALID_SIZE;
    audio.m_packets.pop_front();
    // What the source was handed is gone with the release.
    std::fill(m_data.begin(), m_data.end(), static_cast<BYTE>(0xA5));
    audio.m_held = false;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetNextPacketSize(UINT32* frames) override {
    FakeAudio& audio = FakeAudio::Get();
    std::lock_guard<std::mutex> lock(audio.Lock());
    *frames = 0;
    if (!audio.m_packets.empty()) {
      *frames = audio.m_packets.front().frames;
      return S_OK;
    }
    return audio.m_nextPacketFailure;
  }

 private:
  std::vector<BYTE> m_data;
};

class FakeClient : public Fake<IAudioClient> {
 public:
  HRESULT STDMETHODCALLTYPE Initialize(AUDCLNT_SHAREMODE mode, DWORD flags, REFERENCE_TIME duration,
                                       REFERENCE_TIME periodicity, const WAVEFORMATEX* format, LPCGUID) override {
    FakeAudio& audio = FakeAudio::Get();
    std::lock_guard<std::mutex> lock(audio.Lock());
    if (mode != AUDCLNT_SHAREMODE_SHARED || format == nullptr) return E_INVALIDARG;
    audio.m_record.initFlags = flags;
    audio.m_record.event = nullptr;  // a new stream sets none until told
    audio.m_record.initDuration = duration;
    audio.m_record.initPeriodicity = periodicity;
    audio.m_record.initFormat = *format;
    if (format->wFormatTag == WAVE_FORMAT_EXTENSIBLE && format->cbSize >= 22) {
      audio.m_record.initExtensible = *reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(format);
    }
    return audio.fail.initialize;
  }
  HRESULT STDMETHODCALLTYPE GetBufferSize(UINT32*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetStreamLatency(REFERENCE_TIME*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetCurrentPadding(UINT32* frames) override {
    FakeAudio& audio = FakeAudio::Get();
    std::lock_guard<std::mutex> lock(audio.Lock());
    *frames = 0;
    const uint64_t now = platform::MonotonicMs();
    if (audio.m_record.paddingQueries++ == 0) audio.m_record.firstPaddingMs = now;
    audio.m_record.lastPaddingMs = now;
    if (audio.m_paddingFailure != S_OK) return audio.m_paddingFailure;
    for (const FakePacket& packet : audio.m_packets) *frames += packet.frames;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE IsFormatSupported(AUDCLNT_SHAREMODE, const WAVEFORMATEX*, WAVEFORMATEX**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetMixFormat(WAVEFORMATEX** format) override {
    FakeAudio& audio = FakeAudio::Get();
    std::lock_guard<std::mutex> lock(audio.Lock());
    if (audio.fail.mixFormat != S_OK) return audio.fail.mixFormat;
    const FakeMix& m = audio.mix;
    auto* mix = static_cast<WAVEFORMATEXTENSIBLE*>(CoTaskMemAlloc(sizeof(WAVEFORMATEXTENSIBLE)));
    ZeroMemory(mix, sizeof(*mix));
    WAVEFORMATEX& f = mix->Format;
    f.wFormatTag = m.extensible ? WAVE_FORMAT_EXTENSIBLE : (m.isFloat ? WAVE_FORMAT_IEEE_FLOAT : WAVE_FORMAT_PCM);
    f.nChannels = m.channels;
    f.nSamplesPerSec = audio.m_mixRate;
    f.wBitsPerSample = m.bits;
    f.nBlockAlign = static_cast<WORD>(m.channels * m.bits / 8);
    f.nAvgBytesPerSec = audio.m_mixRate * f.nBlockAlign;
    if (m.extensible) {
      f.cbSize = 22;
      mix->Samples.wValidBitsPerSample = m.bits;
      mix->dwChannelMask = m.mask;
      // {0000000x-0000-0010-8000-00AA00389B71}
      mix->SubFormat = {static_cast<DWORD>(m.isFloat ? 3 : 1), 0, 0x10, {0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71}};
    }
    *format = &f;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetDevicePeriod(REFERENCE_TIME* period, REFERENCE_TIME* minimum) override {
    if (period != nullptr) *period = 100000;
    if (minimum != nullptr) *minimum = FakeAudio::Get().minimumPeriod;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Start() override {
    FakeAudio& audio = FakeAudio::Get();
    std::lock_guard<std::mutex> lock(audio.Lock());
    audio.m_record.started = audio.fail.start == S_OK;
    return audio.fail.start;
  }
  HRESULT STDMETHODCALLTYPE Stop() override {
    FakeAudio& audio = FakeAudio::Get();
    std::lock_guard<std::mutex> lock(audio.Lock());
    audio.m_record.stopped = true;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Reset() override { return S_OK; }
  // As the system's: only for a stream initialised event-driven.
  HRESULT STDMETHODCALLTYPE SetEventHandle(HANDLE event) override {
    FakeAudio& audio = FakeAudio::Get();
    std::lock_guard<std::mutex> lock(audio.Lock());
    if (audio.fail.setEventHandle != S_OK) return audio.fail.setEventHandle;
    if ((audio.m_record.initFlags & AUDCLNT_STREAMFLAGS_EVENTCALLBACK) == 0) return AUDCLNT_E_EVENTHANDLE_NOT_EXPECTED;
    if (event == nullptr) return E_INVALIDARG;
    audio.m_record.event = event;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetService(REFIID iid, void** out) override {
    *out = nullptr;
    FakeAudio& audio = FakeAudio::Get();
    {
      std::lock_guard<std::mutex> lock(audio.Lock());
      if (audio.fail.service != S_OK) return audio.fail.service;
    }
    if (iid != __uuidof(IAudioCaptureClient)) return E_NOINTERFACE;
    *out = static_cast<IAudioCaptureClient*>(new FakeCaptureClient());
    return S_OK;
  }
};

class FakeDevice : public Fake<IMMDevice> {
 public:
  FakeDevice(int index, const FakeEndpoint& endpoint) : m_index(index), m_endpoint(endpoint) {}
  HRESULT STDMETHODCALLTYPE Activate(REFIID iid, DWORD, PROPVARIANT*, void** out) override {
    *out = nullptr;
    FakeAudio& audio = FakeAudio::Get();
    {
      std::lock_guard<std::mutex> lock(audio.Lock());
      audio.m_record.activated = m_index;
      if (audio.fail.activate != S_OK) return audio.fail.activate;
    }
    if (iid != __uuidof(IAudioClient)) return E_NOINTERFACE;
    *out = static_cast<IAudioClient*>(new FakeClient());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OpenPropertyStore(DWORD, IPropertyStore** store) override {
    *store = new FakeStore(m_endpoint);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetId(LPWSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetState(DWORD* state) override {
    *state = DEVICE_STATE_ACTIVE;
    return S_OK;
  }

 private:
  int m_index;
  FakeEndpoint m_endpoint;
};

class FakeCollection : public Fake<IMMDeviceCollection> {
 public:
  HRESULT STDMETHODCALLTYPE GetCount(UINT* count) override {
    FakeAudio& audio = FakeAudio::Get();
    std::lock_guard<std::mutex> lock(audio.Lock());
    *count = static_cast<UINT>(audio.m_endpoints.size());
    return audio.fail.count;
  }
  HRESULT STDMETHODCALLTYPE Item(UINT index, IMMDevice** device) override {
    FakeAudio& audio = FakeAudio::Get();
    std::lock_guard<std::mutex> lock(audio.Lock());
    *device = nullptr;
    if (index >= audio.m_endpoints.size() || audio.m_endpoints[index].itemFails) return E_INVALIDARG;
    *device = new FakeDevice(static_cast<int>(index), audio.m_endpoints[index]);
    return S_OK;
  }
};

class FakeEnumerator : public Fake<IMMDeviceEnumerator> {
 public:
  HRESULT STDMETHODCALLTYPE EnumAudioEndpoints(EDataFlow, DWORD state, IMMDeviceCollection** devices) override {
    *devices = nullptr;
    FakeAudio& audio = FakeAudio::Get();
    {
      std::lock_guard<std::mutex> lock(audio.Lock());
      if (audio.fail.enumerate != S_OK) return audio.fail.enumerate;
    }
    if (state != DEVICE_STATE_ACTIVE) return E_INVALIDARG;
    *devices = new FakeCollection();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetDefaultAudioEndpoint(EDataFlow, ERole role, IMMDevice** device) override {
    FakeAudio& audio = FakeAudio::Get();
    std::lock_guard<std::mutex> lock(audio.Lock());
    *device = nullptr;
    if (audio.fail.defaultEndpoint != S_OK) return audio.fail.defaultEndpoint;
    if (role != eConsole || audio.m_defaultIndex < 0) return E_NOTFOUND;
    const size_t index = static_cast<size_t>(audio.m_defaultIndex);
    *device = new FakeDevice(audio.m_defaultIndex, audio.m_endpoints.at(index));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetDevice(LPCWSTR, IMMDevice**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE RegisterEndpointNotificationCallback(IMMNotificationClient*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE UnregisterEndpointNotificationCallback(IMMNotificationClient*) override {
    return E_NOTIMPL;
  }
};

}  // namespace

FakeAudio& FakeAudio::Get() {
  static FakeAudio audio;
  return audio;
}

long FakeAudio::Create(void** enumerator) {
  FakeAudio& audio = Get();
  *enumerator = nullptr;
  {
    std::lock_guard<std::mutex> lock(audio.Lock());
    if (audio.fail.create != S_OK) return audio.fail.create;
  }
  *enumerator = static_cast<IMMDeviceEnumerator*>(new FakeEnumerator());
  return S_OK;
}

void FakeAudio::Reset(std::vector<FakeEndpoint> endpoints, int defaultIndex, DWORD mixRate) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_endpoints = std::move(endpoints);
  m_defaultIndex = defaultIndex;
  m_mixRate = mixRate;
  m_packets.clear();
  m_record = Record();
  m_nextPacketFailure = S_OK;
  m_paddingFailure = S_OK;
  m_held = false;
  mix = FakeMix();
  fail = FakeFailures();
  minimumPeriod = 30000;
}

void FakeAudio::Push(const FakePacket& packet) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_packets.push_back(packet);
  if (m_record.event != nullptr) SetEvent(m_record.event);
}

size_t FakeAudio::PendingPackets() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_packets.size();
}

void FakeAudio::FailNextPacket(HRESULT hr) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_nextPacketFailure = hr;
}

void FakeAudio::FailPadding(HRESULT hr) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_paddingFailure = hr;
}

FakeAudio::Record FakeAudio::Recorded() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_record;
}
