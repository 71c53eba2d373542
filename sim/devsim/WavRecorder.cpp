#include "WavRecorder.h"

#include <cstring>

namespace sim {

namespace {
void Put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
  Put16(p, static_cast<uint16_t>(v));
  Put16(p + 2, static_cast<uint16_t>(v >> 16));
}
}  // namespace

bool WavRecorder::Open(const std::string& path, uint32_t rate) {
  Close();
  m_file = fopen(path.c_str(), "w+b");
  if (m_file == nullptr) return false;
  m_rate = rate;
  m_dataBytes = 0;
  uint8_t header[44] = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' '};
  Put32(header + 16, 16);
  Put16(header + 20, 1);  // PCM
  Put16(header + 22, 2);  // stereo
  Put32(header + 24, rate);
  Put32(header + 28, rate * 4);
  Put16(header + 32, 4);
  Put16(header + 34, 16);
  memcpy(header + 36, "data", 4);
  Put32(header + 4, 36);
  Put32(header + 40, 0);
  if (fwrite(header, 1, sizeof(header), m_file) != sizeof(header) || fflush(m_file) != 0) {
    Close();
    return false;
  }
  return true;
}

bool WavRecorder::Append(const uint8_t* data, size_t size) {
  if (m_file == nullptr || !HasRoomFor(size)) return false;
  if (fseek(m_file, 0, SEEK_END) != 0 || fwrite(data, 1, size, m_file) != size) return false;
  m_dataBytes += size;
  return WriteSizes();
}

bool WavRecorder::WriteSizes() {
  // Data first, then the sizes that admit it: valid at every moment.
  if (fflush(m_file) != 0) return false;
  uint8_t size[4];
  Put32(size, static_cast<uint32_t>(36 + m_dataBytes));
  if (fseek(m_file, 4, SEEK_SET) != 0 || fwrite(size, 1, 4, m_file) != 4) return false;
  Put32(size, static_cast<uint32_t>(m_dataBytes));
  if (fseek(m_file, 40, SEEK_SET) != 0 || fwrite(size, 1, 4, m_file) != 4) return false;
  return fflush(m_file) == 0;
}

void WavRecorder::Close() {
  if (m_file != nullptr) fclose(m_file);
  m_file = nullptr;
}

}  // namespace sim
