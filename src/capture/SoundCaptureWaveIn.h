// The capture source of a waveIn recording device (Windows). The device is
// asked for stereo 16-bit PCM at the output rate, so no conversion is needed:
// a time-critical worker waits on the device's event (set whenever it has
// filled a buffer) for the next of a ring of 16 buffers of 20 ms, and hands
// each completely filled buffer to the block path.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "capture/DeviceSource.h"
#include "platform/Platform.h"

struct WaveInFunctions;

class SoundCaptureWaveIn : public DeviceSource {
 public:
  static constexpr int BUFFER_COUNT = 16;
  static constexpr int32_t BUFFER_MS = 20;
  // A buffer the driver still holds after marking it filled is asked for
  // again after this long.
  static constexpr unsigned POLL_MS = 10;
  // The longest wait for the device's event: the worker looks at its
  // buffers at least this often whatever the driver signals.
  static constexpr unsigned WAIT_MS = 100;
  // A device that fills no buffer for this long is taken as gone (some
  // drivers simply stop delivering when the device disappears): the worker
  // ends and the idle tick opens the device again.
  static constexpr uint64_t STALL_MS = 4000;

  // api: the waveIn functions (not owned, outlives the source); null: the
  // system's. Tests hand in fakes.
  explicit SoundCaptureWaveIn(const Adpcm* adpcm, const CodecFunctions& codec = QuillDllFunctions(),
                              const WaveInFunctions* api = nullptr);
  // Stops a source that still runs and frees its buffers.
  ~SoundCaptureWaveIn() override;

  // Start-up initialisation; always succeeds (the list may be empty).
  bool Initialize() { return EnumerateDevices(); }

  // "waveIn".
  std::string GetName() const override;
  // Entry 0 "Fixed Device" (the mapped default device) when its capabilities
  // can be read, then every waveIn device by its product name and index.
  bool EnumerateDevices() override;

  // The waveIn device id that the last Start opened (WAVE_MAPPER: 0xFFFFFFFF).
  uint32_t GetOpenedDeviceId() const { return m_openedDeviceId; }

 private:
  struct Buffers;  // the WAVEHDR records, defined beside the waveIn calls

  // The device id for an entry: by its name at the nearest index, else the
  // mapped default device. Sets the input rate to the device's best rate.
  // NO_DEVICE without any device, DEVICE_GONE for an entry of none.
  bool ResolveDevice(const DeviceEntry& device) override;
  // Opens the device at the output rate and queues the ring of buffers.
  bool OpenDevice() override;
  bool StartDevice() override;
  // Resets and closes the device, and frees the buffers.
  void CloseDevice() override;
  bool RunWorker() override;
  // One filled buffer through the block path and back into the queue; false
  // when a waveIn call failed (printed).
  bool TakeBuffer(int index, uint32_t counter);
  void WakeWorker() override;

  const WaveInFunctions& m_api;
  uint32_t m_deviceId = 0xFFFFFFFFu;   // the resolved device
  void* m_hWaveIn = nullptr;           // HWAVEIN, owned while open
  std::unique_ptr<Buffers> m_headers;  // owned, one record per buffer
  std::unique_ptr<int16_t[]> m_buffer[BUFFER_COUNT];
  uint32_t m_openedDeviceId = 0xFFFFFFFFu;
  // The event the device sets as it fills buffers (auto-reset, owned), also
  // set by Stop to wake the worker.
  platform::KernelHandle m_event;
};
