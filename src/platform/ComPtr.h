// One counted reference to a COM interface, released when the pointer goes
// out of scope or is reset. Header only and free of system headers: it calls
// nothing but the interface's own Release, so that a header may hold one of
// an interface it only declares.
#pragma once

#include <utility>

namespace platform {

template <typename Interface>
class ComPtr {
 public:
  ComPtr() = default;
  // Takes over the reference that object holds (may be null).
  explicit ComPtr(Interface* object) : m_object(object) {}
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ComPtr(ComPtr&& other) noexcept : m_object(other.m_object) { other.m_object = nullptr; }
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) {
      Reset();
      std::swap(m_object, other.m_object);
    }
    return *this;
  }
  ~ComPtr() { Reset(); }

  Interface* Get() const { return m_object; }
  Interface* operator->() const { return m_object; }
  explicit operator bool() const { return m_object != nullptr; }

  // Releases the reference held, if any.
  void Reset() {
    if (m_object != nullptr) {
      Interface* object = m_object;
      m_object = nullptr;
      object->Release();
    }
  }
  // Lets go of the pointer without releasing it: the slot of a failed call
  // holds no reference.
  Interface* Detach() {
    Interface* object = m_object;
    m_object = nullptr;
    return object;
  }
  // For a call that hands out a new reference: releases the one held and
  // returns the slot the call fills.
  Interface** Put() {
    Reset();
    return &m_object;
  }
  // The same slot for calls that take it as void** (QueryInterface,
  // Activate, GetService).
  void** PutVoid() { return reinterpret_cast<void**>(Put()); }

 private:
  Interface* m_object = nullptr;
};

}  // namespace platform
