// The least a program of Quillon's kind can cost the PC: a small window whose
// message loop peeks at the queue and sleeps 10 ms whenever it is empty, and,
// when asked, a worker that records the stream Quillon records and does
// nothing with it. scripts/cpu-figures measures it beside Quillon in the same
// run, so that Quillon's CPU use reads as a ratio to this floor.
//
//   cpufloor loop        the message loop alone
//   cpufloor wavein      and waveIn: the default device, 32728 Hz stereo 16-bit,
//                        16 buffers of 20 ms; the worker waits on the device's
//                        event and queues each filled buffer again
//   cpufloor coreaudio   and Core Audio: the default capture endpoint in shared
//                        mode at its mix format, event driven; the worker
//                        takes each packet and gives it back
//
// It runs until its window (class "QuillFloor") is closed. It prints
// "cpufloor: recording" once the first buffer or packet arrived (at once for
// loop), and at the end the buffers or packets it took.
#include <windows.h>
#include <mmsystem.h>
#include <mmdeviceapi.h>
#include <audioclient.h>

#include <atomic>
#include <cstdio>
#include <cstring>

namespace {

const char kClass[] = "QuillFloor";
const CLSID kClsidMMDeviceEnumerator = {0xBCDE0395, 0xE52F, 0x467C, {0x8E, 0x3D, 0xC4, 0x57, 0x92, 0x91, 0x69, 0x2E}};
const IID kIidIMMDeviceEnumerator = {0xA95664D2, 0x9614, 0x4F35, {0xA7, 0x46, 0xDE, 0x8D, 0xB6, 0x36, 0x17, 0xE6}};
const IID kIidIAudioClient = {0x1CB9AD4C, 0xDBFA, 0x4C32, {0xB1, 0x78, 0xC2, 0xF5, 0x68, 0xA7, 0x03, 0xB2}};
const IID kIidIAudioCaptureClient = {0xC8ADBD64, 0xE71E, 0x48A0, {0xA4, 0xDE, 0x18, 0x5C, 0x39, 0x5C, 0xD3, 0x17}};

std::atomic<bool> g_running{true};
std::atomic<unsigned long> g_taken{0};
HANDLE g_stop = nullptr;  // manual-reset: set when the window closes

void Taken() {
  if (g_taken.fetch_add(1) == 0) {
    printf("cpufloor: recording\n");
    fflush(stdout);
  }
}

// --- waveIn --------------------------------------------------------------------

constexpr int kBuffers = 16;
constexpr DWORD kRate = 32728;

struct WaveIn {
  HWAVEIN handle = nullptr;
  HANDLE done = nullptr;  // auto-reset, set by the driver
  WAVEHDR headers[kBuffers] = {};
  char* data[kBuffers] = {};
};

DWORD WINAPI WaveInWorker(LPVOID context) {
  auto* w = static_cast<WaveIn*>(context);
  HANDLE waits[2] = {w->done, g_stop};
  int next = 0;
  while (g_running.load()) {
    WAVEHDR& header = w->headers[next];
    if ((header.dwFlags & WHDR_DONE) == 0) {
      WaitForMultipleObjects(2, waits, FALSE, INFINITE);
      continue;
    }
    waveInUnprepareHeader(w->handle, &header, sizeof(header));
    Taken();
    header.dwBytesRecorded = 0;
    header.dwFlags = 0;
    waveInPrepareHeader(w->handle, &header, sizeof(header));
    waveInAddBuffer(w->handle, &header, sizeof(header));
    next = (next + 1) % kBuffers;
  }
  return 0;
}

bool StartWaveIn(WaveIn* w) {
  w->done = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  WAVEFORMATEX format = {};
  format.wFormatTag = WAVE_FORMAT_PCM;
  format.nChannels = 2;
  format.nSamplesPerSec = kRate;
  format.nAvgBytesPerSec = kRate * 4;
  format.nBlockAlign = 4;
  format.wBitsPerSample = 16;
  MMRESULT r = waveInOpen(&w->handle, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(w->done), 0, CALLBACK_EVENT);
  if (r != MMSYSERR_NOERROR) {
    fprintf(stderr, "cpufloor: waveInOpen failed (%u)\n", r);
    return false;
  }
  const DWORD bytes = kRate * 20 / 1000 * 4;
  for (int i = 0; i < kBuffers; ++i) {
    w->data[i] = new char[bytes];
    w->headers[i].lpData = w->data[i];
    w->headers[i].dwBufferLength = bytes;
    waveInPrepareHeader(w->handle, &w->headers[i], sizeof(WAVEHDR));
    waveInAddBuffer(w->handle, &w->headers[i], sizeof(WAVEHDR));
  }
  HANDLE thread = CreateThread(nullptr, 0, WaveInWorker, w, 0, nullptr);
  SetThreadPriority(thread, THREAD_PRIORITY_TIME_CRITICAL);
  CloseHandle(thread);
  return waveInStart(w->handle) == MMSYSERR_NOERROR;
}

// --- Core Audio ------------------------------------------------------------------

struct CoreAudio {
  IAudioClient* client = nullptr;
  IAudioCaptureClient* capture = nullptr;
  HANDLE ready = nullptr;  // auto-reset, set by the audio client every period
};

DWORD WINAPI CoreAudioWorker(LPVOID context) {
  auto* c = static_cast<CoreAudio*>(context);
  HANDLE waits[2] = {c->ready, g_stop};
  while (g_running.load()) {
    WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    UINT32 frames = 0;
    while (SUCCEEDED(c->capture->GetNextPacketSize(&frames)) && frames > 0) {
      BYTE* data = nullptr;
      DWORD flags = 0;
      if (FAILED(c->capture->GetBuffer(&data, &frames, &flags, nullptr, nullptr))) break;
      c->capture->ReleaseBuffer(frames);
      Taken();
    }
  }
  return 0;
}

bool StartCoreAudio(CoreAudio* c) {
  IMMDeviceEnumerator* enumerator = nullptr;
  IMMDevice* device = nullptr;
  WAVEFORMATEX* mix = nullptr;
  HRESULT hr = CoCreateInstance(kClsidMMDeviceEnumerator, nullptr, CLSCTX_ALL, kIidIMMDeviceEnumerator,
                                reinterpret_cast<void**>(&enumerator));
  if (SUCCEEDED(hr)) hr = enumerator->GetDefaultAudioEndpoint(eCapture, eConsole, &device);
  if (SUCCEEDED(hr)) hr = device->Activate(kIidIAudioClient, CLSCTX_ALL, nullptr, reinterpret_cast<void**>(&c->client));
  if (SUCCEEDED(hr)) hr = c->client->GetMixFormat(&mix);
  if (SUCCEEDED(hr)) {
    hr = c->client->Initialize(AUDCLNT_SHAREMODE_SHARED, AUDCLNT_STREAMFLAGS_EVENTCALLBACK, 3200000, 0, mix, nullptr);
  }
  if (mix != nullptr) CoTaskMemFree(mix);
  c->ready = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (SUCCEEDED(hr)) hr = c->client->SetEventHandle(c->ready);
  if (SUCCEEDED(hr)) hr = c->client->GetService(kIidIAudioCaptureClient, reinterpret_cast<void**>(&c->capture));
  if (device != nullptr) device->Release();
  if (enumerator != nullptr) enumerator->Release();
  if (FAILED(hr)) {
    fprintf(stderr, "cpufloor: Core Audio failed (0x%08lx)\n", static_cast<unsigned long>(hr));
    return false;
  }
  HANDLE thread = CreateThread(nullptr, 0, CoreAudioWorker, c, 0, nullptr);
  SetThreadPriority(thread, THREAD_PRIORITY_TIME_CRITICAL);
  CloseHandle(thread);
  return SUCCEEDED(c->client->Start());
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

}  // namespace

int main(int argc, char** argv) {
  const char* mode = argc > 1 ? argv[1] : "loop";
  if (strcmp(mode, "loop") != 0 && strcmp(mode, "wavein") != 0 && strcmp(mode, "coreaudio") != 0) {
    fprintf(stderr, "usage: cpufloor loop|wavein|coreaudio\n");
    return 2;
  }
  // As Quillon: a high-priority process with a single-threaded apartment.
  SetPriorityClass(GetCurrentProcess(), HIGH_PRIORITY_CLASS);
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  g_stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);

  WNDCLASSA wc = {};
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kClass;
  RegisterClassA(&wc);
  HWND hwnd = CreateWindowA(kClass, "cpufloor", WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT, CW_USEDEFAULT,
                            306, 280, nullptr, nullptr, wc.hInstance, nullptr);
  ShowWindow(hwnd, SW_SHOWNORMAL);
  UpdateWindow(hwnd);

  WaveIn waveIn;
  CoreAudio coreAudio;
  bool started = true;
  if (strcmp(mode, "wavein") == 0) started = StartWaveIn(&waveIn);
  if (strcmp(mode, "coreaudio") == 0) started = StartCoreAudio(&coreAudio);
  if (!started) return 1;
  if (strcmp(mode, "loop") == 0) Taken();

  MSG msg = {};
  for (;;) {
    if (!PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
      Sleep(10);
      continue;
    }
    if (GetMessageA(&msg, nullptr, 0, 0) <= 0) break;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  g_running.store(false);
  SetEvent(g_stop);
  printf("cpufloor: %lu taken\n", g_taken.load());
  fflush(stdout);
  // The process ends with the device still open: nothing here measures the end.
  ExitProcess(0);
}
