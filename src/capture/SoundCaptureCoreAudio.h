// The Core Audio capture source (Windows), in one of two modes fixed at
// initialisation: capture records a capture endpoint, loopback records what a
// render endpoint plays. The stream is opened in shared mode at the
// endpoint's mix format (as stereo 16-bit PCM when the mix format is stereo
// 16-bit); a time-critical worker takes the packets as the capture client
// has them (a capture endpoint's stream sets an event for each period, a
// loopback stream is looked at every 10 ms), copies each packet and gives
// it back, folds it to stereo 16-bit, gathers the frames into blocks of
// 20 ms and hands each to the block path, which converts it to the output
// rate.
//
// COM must be initialised on the thread that initialises, starts and stops
// the source; the worker only calls the capture client and the audio
// client's padding query.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "capture/CaptureMath.h"
#include "capture/ChannelMix.h"
#include "capture/DeviceSource.h"
#include "platform/ComPtr.h"
#include "platform/Platform.h"

struct IMMDevice;
struct IAudioClient;
struct IAudioCaptureClient;

class SoundCaptureCoreAudio : public DeviceSource, private capture::CaptureBlockBuffer::Sink {
 public:
  // The mode; also the data-flow direction handed to Core Audio.
  static constexpr int32_t TYPE_NONE = -1;
  static constexpr int32_t TYPE_LOOPBACK = 0;  // eRender
  static constexpr int32_t TYPE_CAPTURE = 1;   // eCapture

  static constexpr int32_t BLOCK_MS = 20;
  // The longest wait between two looks at the capture client: a loopback
  // stream's period; an event-driven stream waits this long at most for
  // its event.
  static constexpr unsigned POLL_MS = 10;
  // The shared-mode buffer, in 100-nanosecond units (320 ms), unless the
  // device's minimum period is longer.
  static constexpr int64_t BUFFER_DURATION = 3200000;
  // A capture endpoint delivers packets all the time, silent ones included:
  // one that delivers none for this long is taken as gone (not every driver
  // reports the device's removal) and the worker ends. A loopback stream has
  // no packets while nothing plays, so it is not watched.
  static constexpr uint64_t STALL_MS = 4000;

  // Makes the device enumerator: stores an IMMDeviceEnumerator holding one
  // reference for the caller and returns an HRESULT.
  using EnumeratorFactory = long (*)(void** enumerator);
  // The system's enumerator (CoCreateInstance of MMDeviceEnumerator).
  static long CreateSystemEnumerator(void** enumerator);

  // factory: where the enumerator comes from (tests hand in fakes).
  explicit SoundCaptureCoreAudio(const Adpcm* adpcm, const CodecFunctions& codec = QuillDllFunctions(),
                                 EnumeratorFactory factory = &SoundCaptureCoreAudio::CreateSystemEnumerator);
  // Stops a source that still runs and releases the device.
  ~SoundCaptureCoreAudio() override;

  // Start-up initialisation of the mode: the result of EnumerateDevices.
  bool InitializeCapture();
  bool InitializeLoopback();
  int32_t GetDeviceType() const { return m_deviceType; }

  // "Core Audio" in capture mode, "loopback" in loopback mode.
  std::string GetName() const override;
  // Entry 0 "Fixed Device" (the default endpoint for the console role), then
  // the active endpoints of the mode's data flow by friendly name and index.
  bool EnumerateDevices() override;

 private:
  // Holds the endpoint for the entry: the default one, or the one with the
  // entry's name nearest to its index.
  bool ResolveDevice(const DeviceEntry& device) override;
  // Activates the audio client, chooses the format, initialises the stream
  // and opens its capture client.
  bool OpenDevice() override;
  bool StartDevice() override { return StartClient(); }
  // Releases the interfaces and the block.
  void CloseDevice() override;
  bool RunWorker() override;
  // The steps of OpenDevice and StartDevice, in their order; each logs and
  // sets the failure when it fails.
  bool ActivateClient();
  bool ChooseFormat(std::vector<uint8_t>* format);
  bool InitializeClient(const std::vector<uint8_t>& format);
  bool OpenCaptureClient();
  bool StartClient();
  void ReleaseInterfaces();
  // What a failed call of the stream's start tells the user.
  CaptureFailure StartFailure(long hr) const;
  void OnBlock(int16_t* frames, int32_t frameCount) override;
  void WakeWorker() override;

  EnumeratorFactory m_createEnumerator;
  int32_t m_deviceType = TYPE_NONE;
  DeviceEntry m_lastDevice;                               // the entry of the last Start
  bool m_afterLoss = false;                               // that Start retries an entry reported gone
  platform::ComPtr<IMMDevice> m_device;                   // the resolved endpoint
  platform::ComPtr<IAudioClient> m_audioClient;           // while started
  platform::ComPtr<IAudioCaptureClient> m_captureClient;  // while started
  capture::CaptureBlockBuffer m_block;                    // the worker's block of 20 ms
  capture::ChannelMixer m_mixer;                          // the endpoint's format to stereo 16-bit
  std::vector<uint8_t> m_packet;                          // the worker's copy of a packet
  std::vector<int16_t> m_mixed;                           // the packet as stereo 16-bit
  // Set by the audio client for every period of an event-driven stream
  // (capture mode), and by Stop to wake the worker; auto-reset, owned.
  platform::KernelHandle m_event;
  bool m_eventDriven = false;  // the stream of the last Start sets m_event
};
