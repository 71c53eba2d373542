// Records 16-bit stereo PCM to a WAV file that is valid after every block:
// the header's sizes are rewritten and the file flushed after each append,
// so a simulator that is killed leaves a playable file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace sim {

class WavRecorder {
 public:
  WavRecorder() = default;
  WavRecorder(const WavRecorder&) = delete;
  WavRecorder& operator=(const WavRecorder&) = delete;
  ~WavRecorder() { Close(); }

  bool Open(const std::string& path, uint32_t rate);
  // Appends whole frames (4 bytes each). False on a write error or when the
  // file would pass the format's 4 GiB limit.
  bool Append(const uint8_t* data, size_t size);
  void Close();

  bool IsOpen() const { return m_file != nullptr; }
  uint32_t Rate() const { return m_rate; }
  uint64_t DataBytes() const { return m_dataBytes; }
  // Room left before the format's size limit.
  bool HasRoomFor(size_t size) const { return m_dataBytes + size <= 0xFFFFFFFFull - 36; }

 private:
  bool WriteSizes();

  FILE* m_file = nullptr;  // owned
  uint32_t m_rate = 0;
  uint64_t m_dataBytes = 0;
};

}  // namespace sim
