// QuillDll's four exports and the handles they hand out.
//
// A handle is a CodecHandle record owned by the caller from Open to Close.
// Open and Close run under one library lock, which also serialises the codec
// runtime's process-wide services (pools, user counts, the error hook's
// installer) so that any number of threads may open and close handles. Every
// open handle is also kept in a list; a pointer is accepted as a handle only
// when it is on that list and its first word is the library's banner, so a
// foreign or already closed pointer is rejected without being read.
#include <mutex>
#include <new>

#include "CriQuillBase.h"

namespace {

// The library's identification banner; its address is every handle's signature.
const char s_banner[] = "QuillDll Ver.0.8.2 Build:0";

struct CodecHandle {
  const void* signature;  // s_banner while open
  CriQuillBase* codec;    // owned; null once released
  CodecHandle* prev;      // the list of open handles
  CodecHandle* next;
};

std::mutex s_lock;  // guards the list, Open's set-up and Close's teardown
CodecHandle* s_handles = nullptr;

// True when `handle` is an open handle of this library. s_lock is held.
bool IsOpenHandle(const void* handle) {
  for (const CodecHandle* h = s_handles; h != nullptr; h = h->next) {
    if (h == handle) return h->signature == s_banner;
  }
  return false;
}

void Link(CodecHandle* h) {
  h->prev = nullptr;
  h->next = s_handles;
  if (s_handles != nullptr) s_handles->prev = h;
  s_handles = h;
}

void Unlink(CodecHandle* h) {
  if (h->prev != nullptr)
    h->prev->next = h->next;
  else
    s_handles = h->next;
  if (h->next != nullptr) h->next->prev = h->prev;
  h->prev = h->next = nullptr;
}

}  // namespace

QUILLDLL_API uint32_t GetVersion(uint32_t* major, uint32_t* minor, uint32_t* release, uint32_t* build) {
  // Null pointers are skipped rather than written through.
  if (major != nullptr) *major = 0;
  if (minor != nullptr) *minor = 8;
  if (release != nullptr) *release = 2;
  if (build != nullptr) *build = 0;
  return QuillDll::RESULT_SUCCESS;
}

QUILLDLL_API uint32_t Open(void** handle, const QuillDll::CODECINFO* info) {
  if (handle == nullptr) return QuillDll::RESULT_INVALID_PARAMETER;
  *handle = nullptr;
  if (info == nullptr) return QuillDll::RESULT_INVALID_PARAMETER;

  auto* h = new (std::nothrow) CodecHandle{};
  if (h == nullptr) return QuillDll::RESULT_FAILED;

  std::lock_guard<std::mutex> lock(s_lock);
  uint32_t result = QuillDll::RESULT_INVALID_PARAMETER;
  CriQuillBase* codec = nullptr;
  if (info->codec == QuillDll::CODEC_ADX) {
    result = CreateCriQuillAdx(*info, &codec);
  } else if (info->codec == QuillDll::CODEC_HCA) {
    result = CreateCriQuillHca(*info, &codec);
  }
  if (result != QuillDll::RESULT_SUCCESS || codec == nullptr) {
    // A set-up that claims success without an object is a failure all the same.
    if (result == QuillDll::RESULT_SUCCESS) result = QuillDll::RESULT_FAILED;
    delete h;
    return result;
  }
  h->signature = s_banner;
  h->codec = codec;
  Link(h);
  *handle = h;
  return QuillDll::RESULT_SUCCESS;
}

QUILLDLL_API uint32_t EncodeAndDecode(void* handle, void* out, uint32_t outFrames, void* in, uint32_t inFrames,
                                      uint32_t* processed) {
  uint32_t unused = 0;
  if (processed == nullptr) processed = &unused;
  *processed = 0;
  if (handle == nullptr || (out == nullptr && outFrames > 0) || (in == nullptr && inFrames > 0)) {
    return QuillDll::RESULT_INVALID_PARAMETER;
  }
  CriQuillBase* codec = nullptr;
  {
    std::lock_guard<std::mutex> lock(s_lock);
    if (!IsOpenHandle(handle)) return QuillDll::RESULT_INVALID_PARAMETER;
    codec = static_cast<CodecHandle*>(handle)->codec;
  }
  if (codec == nullptr) return QuillDll::RESULT_INVALID_PARAMETER;
  // The handle belongs to this caller until Close, so the codec runs unlocked.
  codec->Process(static_cast<int16_t*>(out), outFrames, static_cast<const int16_t*>(in), inFrames, processed);
  return QuillDll::RESULT_SUCCESS;
}

QUILLDLL_API uint32_t Close(void* handle) {
  if (handle == nullptr) return QuillDll::RESULT_INVALID_PARAMETER;
  std::lock_guard<std::mutex> lock(s_lock);
  if (!IsOpenHandle(handle)) return QuillDll::RESULT_INVALID_PARAMETER;
  auto* h = static_cast<CodecHandle*>(handle);
  Unlink(h);
  h->signature = nullptr;
  if (h->codec != nullptr) {
    h->codec->Release();
    h->codec = nullptr;
  }
  delete h;
  return QuillDll::RESULT_SUCCESS;
}
