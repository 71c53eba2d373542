#include "runtime/ErrorHook.h"

#include <cstring>
#include <mutex>

namespace {

constexpr size_t MESSAGE_MAX = 255;

void NoReport(void* /*context*/, const char* /*message*/) {}

// The hook and its buffer. Reports may come from any thread that runs a codec;
// the lock keeps the pair consistent and the buffer whole while it is read.
std::recursive_mutex s_hookLock;
CodecErrorFunction s_function = &NoReport;
void* s_context = nullptr;
char s_message[MESSAGE_MAX + 1];

// Appends `text` to s_message at *length, stopping at MESSAGE_MAX.
void Append(size_t* length, const char* text) {
  if (text == nullptr) return;
  size_t n = std::strlen(text);
  if (n > MESSAGE_MAX - *length) n = MESSAGE_MAX - *length;
  std::memcpy(s_message + *length, text, n);
  *length += n;
  s_message[*length] = '\0';
}

}  // namespace

void ErrorHook_Install(CodecErrorFunction function, void* context) {
  std::lock_guard<std::recursive_mutex> lock(s_hookLock);
  s_function = function != nullptr ? function : &NoReport;
  s_context = context;
}

void ErrorHook_Report(const char* message) {
  ErrorHook_Report(message, nullptr);
}

void ErrorHook_Report(const char* prefix, const char* text) {
  std::lock_guard<std::recursive_mutex> lock(s_hookLock);
  size_t length = 0;
  s_message[0] = '\0';
  Append(&length, prefix);
  Append(&length, text);
  s_function(s_context, s_message);
}
