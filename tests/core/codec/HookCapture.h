// Collects the codec runtime's error messages in a test.
#pragma once

#include <string>
#include <vector>

#include "runtime/ErrorHook.h"

// Collects the codec runtime's error messages while it lives.
class HookCapture {
 public:
  HookCapture() { ErrorHook_Install(&HookCapture::Receive, this); }
  ~HookCapture() { ErrorHook_Install(nullptr, nullptr); }
  HookCapture(const HookCapture&) = delete;
  HookCapture& operator=(const HookCapture&) = delete;

  const std::vector<std::string>& Messages() const { return m_messages; }
  void Clear() { m_messages.clear(); }

 private:
  static void Receive(void* context, const char* message) {
    static_cast<HookCapture*>(context)->m_messages.emplace_back(message);
  }
  std::vector<std::string> m_messages;
};
