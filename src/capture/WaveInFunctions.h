// The waveIn functions that the waveIn source calls, as a table: by default
// the system's own (winmm), replaced by fakes in tests. Windows only.
#pragma once

#include <windows.h>
#include <mmsystem.h>

struct WaveInFunctions {
  UINT(WINAPI* GetNumDevs)();
  MMRESULT(WINAPI* GetDevCaps)(UINT_PTR device, LPWAVEINCAPSA caps, UINT size);
  MMRESULT(WINAPI* Open)
  (LPHWAVEIN handle, UINT device, LPCWAVEFORMATEX format, DWORD_PTR callback, DWORD_PTR instance, DWORD flags);
  MMRESULT(WINAPI* PrepareHeader)(HWAVEIN handle, LPWAVEHDR header, UINT size);
  MMRESULT(WINAPI* UnprepareHeader)(HWAVEIN handle, LPWAVEHDR header, UINT size);
  MMRESULT(WINAPI* AddBuffer)(HWAVEIN handle, LPWAVEHDR header, UINT size);
  MMRESULT(WINAPI* Start)(HWAVEIN handle);
  MMRESULT(WINAPI* Reset)(HWAVEIN handle);
  MMRESULT(WINAPI* Close)(HWAVEIN handle);
};

// winmm's functions, bound at run time from the system folder on first use
// (without winmm: no devices). One shared table without state.
const WaveInFunctions& SystemWaveInFunctions();
