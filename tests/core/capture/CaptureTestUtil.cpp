#include "CaptureTestUtil.h"

#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

const uint8_t kSubtypePcmGuid[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                     0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
const uint8_t kSubtypeFloatGuid[16] = {0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                       0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

bool FakeChannel::Write(uint32_t type, const void* data, int32_t size) {
  if (onWrite) onWrite();
  std::lock_guard<std::mutex> lock(m_mutex);
  Packet packet;
  packet.type = type;
  packet.samples.resize(static_cast<size_t>(size) / 2);
  if (size > 0) memcpy(packet.samples.data(), data, packet.samples.size() * 2);
  m_frames += packet.samples.size() / 2;
  m_packets.push_back(std::move(packet));
  return true;
}

std::vector<FakeChannel::Packet> FakeChannel::Packets() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_packets;
}

std::vector<int16_t> FakeChannel::Stream() {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::vector<int16_t> all;
  for (const Packet& p : m_packets) {
    if (p.type == AUDIO) all.insert(all.end(), p.samples.begin(), p.samples.end());
  }
  return all;
}

size_t FakeChannel::StreamFrames() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_frames;
}

void FakeChannel::Clear() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_packets.clear();
  m_frames = 0;
}

namespace {
void Put16(std::string& s, uint32_t v) {
  s.push_back(static_cast<char>(v & 0xFF));
  s.push_back(static_cast<char>((v >> 8) & 0xFF));
}
void Put32(std::string& s, uint32_t v) {
  Put16(s, v & 0xFFFF);
  Put16(s, v >> 16);
}
}  // namespace

std::string MakeChunk(const char* id, const std::string& payload) {
  std::string s(id, 4);
  Put32(s, static_cast<uint32_t>(payload.size()));
  return s + payload;
}

std::string MakeWave(const WaveDesc& waveDesc) {
  uint16_t blockAlign = waveDesc.blockAlign != 0 ? waveDesc.blockAlign
                                                 : static_cast<uint16_t>(waveDesc.channels * ((waveDesc.bits + 7) / 8));
  uint32_t bytesPerSecond =
      waveDesc.bytesPerSecond >= 0 ? static_cast<uint32_t>(waveDesc.bytesPerSecond) : blockAlign * waveDesc.rate;
  std::string fmt;
  Put16(fmt, waveDesc.tag);
  Put16(fmt, waveDesc.channels);
  Put32(fmt, waveDesc.rate);
  Put32(fmt, bytesPerSecond);
  Put16(fmt, blockAlign);
  Put16(fmt, waveDesc.bits);
  if (waveDesc.tag == 0xFFFE) {
    Put16(fmt, 22);             // extension size
    Put16(fmt, waveDesc.bits);  // valid bits
    Put32(fmt, 3);              // channel mask
    const uint8_t* guid = waveDesc.subformat != nullptr ? waveDesc.subformat : kSubtypePcmGuid;
    fmt.append(reinterpret_cast<const char*>(guid), 16);
  }
  std::string body =
      "WAVE" + MakeChunk("fmt ", fmt) + waveDesc.chunksBefore + MakeChunk("data", waveDesc.data) + waveDesc.chunksAfter;
  std::string file = "RIFF";
  Put32(file, waveDesc.riffSize >= 0 ? static_cast<uint32_t>(waveDesc.riffSize) : static_cast<uint32_t>(body.size()));
  return file + body;
}

std::string Bytes16(const std::vector<int16_t>& values) {
  std::string s;
  for (int16_t v : values) Put16(s, static_cast<uint16_t>(v));
  return s;
}

std::string BytesFloat(const std::vector<float>& values) {
  std::string s(values.size() * 4, '\0');
  if (!values.empty()) memcpy(&s[0], values.data(), s.size());
  return s;
}

std::string BytesDouble(const std::vector<double>& values) {
  std::string s(values.size() * 8, '\0');
  if (!values.empty()) memcpy(&s[0], values.data(), s.size());
  return s;
}

std::vector<int16_t> StereoSine(double frequency, double rate, double amplitude, size_t frames, double phase) {
  std::vector<int16_t> out(frames * 2);
  const double pi = 3.14159265358979323846;
  for (size_t i = 0; i < frames; ++i) {
    double v = std::lround(amplitude * std::sin(2.0 * pi * frequency * static_cast<double>(i) / rate + phase));
    out[2 * i] = out[2 * i + 1] = static_cast<int16_t>(v);
  }
  return out;
}

namespace {

// Least-squares fit of a cos + b sin + dc to channel c from frame skip on:
// coef receives a, b and dc.
void FitSine(const std::vector<int16_t>& stereo, int c, double frequency, double rate, size_t skip, double coef[3]) {
  // Least squares for x = a cos + b sin + dc: normal equations of a 3x3 system.
  const double pi = 3.14159265358979323846;
  const size_t frames = stereo.size() / 2;
  double m[3][3] = {};
  double v[3] = {};
  for (size_t i = skip; i < frames; ++i) {
    double w = 2.0 * pi * frequency * static_cast<double>(i) / rate;
    double basis[3] = {std::cos(w), std::sin(w), 1.0};
    double x = stereo[2 * i + c];
    for (int r = 0; r < 3; ++r) {
      v[r] += basis[r] * x;
      for (int k = 0; k < 3; ++k) m[r][k] += basis[r] * basis[k];
    }
  }
  // Gaussian elimination.
  for (int p = 0; p < 3; ++p) {
    for (int r = p + 1; r < 3; ++r) {
      double f = m[r][p] / m[p][p];
      for (int k = p; k < 3; ++k) m[r][k] -= f * m[p][k];
      v[r] -= f * v[p];
    }
  }
  for (int r = 2; r >= 0; --r) {
    double s = v[r];
    for (int k = r + 1; k < 3; ++k) s -= m[r][k] * coef[k];
    coef[r] = s / m[r][r];
  }
}

}  // namespace

double SineAmplitude(const std::vector<int16_t>& stereo, int c, double frequency, double rate, size_t skip) {
  double coef[3];
  FitSine(stereo, c, frequency, rate, skip, coef);
  return std::sqrt(coef[0] * coef[0] + coef[1] * coef[1]);
}

double ThdPlusNoiseDb(const std::vector<int16_t>& stereo, int c, double frequency, double rate, size_t skip) {
  const double pi = 3.14159265358979323846;
  const size_t frames = stereo.size() / 2;
  double coef[3];
  FitSine(stereo, c, frequency, rate, skip, coef);
  double signal = 0.0;
  double residual = 0.0;
  for (size_t i = skip; i < frames; ++i) {
    double w = 2.0 * pi * frequency * static_cast<double>(i) / rate;
    double sine = coef[0] * std::cos(w) + coef[1] * std::sin(w);
    double e = stereo[2 * i + c] - sine - coef[2];
    signal += sine * sine;
    residual += e * e;
  }
  return 10.0 * std::log10(residual / signal);
}

double SnrDb(const std::vector<int16_t>& reference, const std::vector<int16_t>& output, size_t delay, size_t skip) {
  const size_t refFrames = reference.size() / 2;
  const size_t outFrames = output.size() / 2;
  double signal = 0.0;
  double noise = 0.0;
  for (size_t o = skip + delay; o < outFrames && o - delay < refFrames; ++o) {
    for (int c = 0; c < 2; ++c) {
      double r = reference[2 * (o - delay) + c];
      double e = output[2 * o + c] - r;
      signal += r * r;
      noise += e * e;
    }
  }
  if (noise == 0.0) return 200.0;
  return 10.0 * std::log10(signal / noise);
}
