// A Core Audio system made of fake COM objects, for tests of the Core Audio
// source without a sound server: endpoints with names, a default endpoint,
// a scripted packet queue for the capture client, a failure to inject at
// each call the source makes, and a count of objects still alive so that a
// test sees every reference the source took given back.
#pragma once

#include <windows.h>
#include <mmdeviceapi.h>
#include <audioclient.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

struct FakeEndpoint {
  std::wstring name;
  bool nameIsWide = true;  // false: the name property is not a wide string
  bool itemFails = false;  // the collection cannot hand it out
};

struct FakePacket {
  UINT32 frames = 0;
  DWORD flags = 0;
  int16_t first = 0;  // samples first, first + 1, ... (both channels counted)
};

// The endpoint's mix format: plain or extensible, integer or float, any
// channel count and mask. The packets' samples are written in it.
struct FakeMix {
  WORD channels = 2;
  WORD bits = 16;
  bool isFloat = false;
  bool extensible = false;
  DWORD mask = 0;  // extensible only
};

// Where a call fails when asked to (the HRESULT returned).
struct FakeFailures {
  HRESULT create = S_OK;
  HRESULT enumerate = S_OK;
  HRESULT count = S_OK;
  HRESULT defaultEndpoint = S_OK;
  HRESULT activate = S_OK;
  HRESULT mixFormat = S_OK;
  HRESULT initialize = S_OK;
  HRESULT service = S_OK;
  HRESULT start = S_OK;
  HRESULT getBuffer = S_OK;      // the packet stays queued
  HRESULT releaseBuffer = S_OK;  // the packet stays queued
  HRESULT setEventHandle = S_OK;
};

class FakeAudio {
 public:
  // The one fake system (the factory the source takes has no context).
  static FakeAudio& Get();
  // The factory to hand to SoundCaptureCoreAudio.
  static long Create(void** enumerator);

  // Starts over with these endpoints; defaultIndex -1: no default endpoint.
  void Reset(std::vector<FakeEndpoint> endpoints, int defaultIndex, DWORD mixRate = 48000);

  // Set before the source calls in (Reset clears them).
  FakeFailures fail;
  REFERENCE_TIME minimumPeriod = 30000;
  FakeMix mix;

  // Queued for the capture client's worker; an event-driven stream's event
  // is set for it, as for a period.
  void Push(const FakePacket& packet);
  size_t PendingPackets();
  // Makes GetNextPacketSize fail from now on.
  void FailNextPacket(HRESULT hr);
  // Ends the stream quietly, as Wine's does when its endpoint goes away
  // between two packets: GetNextPacketSize still says there is none,
  // GetCurrentPadding fails with hr from now on.
  void FailPadding(HRESULT hr);

  // What the source did.
  struct Record {
    int activated = -1;  // the endpoint index of the last Activate
    DWORD initFlags = 0;
    REFERENCE_TIME initDuration = 0;
    REFERENCE_TIME initPeriodicity = -1;
    WAVEFORMATEX initFormat = {};
    WAVEFORMATEXTENSIBLE initExtensible = {};  // when initFormat is extensible
    bool started = false;
    bool stopped = false;
    int getBuffers = 0;           // packets handed out
    int releaseBuffers = 0;       // calls of ReleaseBuffer, failed ones included
    int paddingQueries = 0;       // calls of GetCurrentPadding: the worker's looks without a packet
    uint64_t firstPaddingMs = 0;  // platform::MonotonicMs of the first of them
    uint64_t lastPaddingMs = 0;   // and of the last
    int discontinuities = 0;      // packets handed out with the flag
    HANDLE event = nullptr;       // given by SetEventHandle
  };
  // A packet is between GetBuffer and ReleaseBuffer.
  bool BufferHeld() { return m_held.load(); }
  Record Recorded();

  // Fake objects alive (each counts from creation to its last Release).
  int LiveObjects() const { return m_live.load(); }

  // Used by the fake objects.
  std::mutex& Lock() { return m_mutex; }
  std::atomic<int>& Live() { return m_live; }
  std::vector<FakeEndpoint> m_endpoints;
  int m_defaultIndex = 0;
  DWORD m_mixRate = 48000;
  std::deque<FakePacket> m_packets;
  Record m_record;
  HRESULT m_nextPacketFailure = S_OK;
  HRESULT m_paddingFailure = S_OK;
  std::atomic<bool> m_held{false};

 private:
  std::mutex m_mutex;
  std::atomic<int> m_live{0};
};
