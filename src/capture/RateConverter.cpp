#include "capture/RateConverter.h"

ConverterKind ConverterKindFromValue(uint32_t value) {
  return value == static_cast<uint32_t>(ConverterKind::SPLINE) ? ConverterKind::SPLINE : ConverterKind::SINC;
}

void RateConverter::Setup(uint32_t inputRate, uint32_t outputRate, uint32_t channels) {
  m_kind = GetNextKind();
  // The unused converter keeps no stream (and no filter table).
  if (m_kind == ConverterKind::SPLINE) {
    m_sinc.Setup(0, 0, 0);
    m_spline.Setup(inputRate, outputRate, channels);
  } else {
    m_sinc.Setup(inputRate, outputRate, channels);
  }
}

int32_t RateConverter::OutputBytes(uint32_t inputBytes) const {
  return m_kind == ConverterKind::SPLINE ? m_spline.OutputBytes(inputBytes) : m_sinc.OutputBytes(inputBytes);
}

bool RateConverter::IsNeed() const {
  return m_kind == ConverterKind::SPLINE ? m_spline.IsNeed() : m_sinc.IsNeed();
}

void RateConverter::Convert(const int16_t* input, uint32_t inputBytes, int16_t* output, uint32_t* outputBytes) {
  if (m_kind == ConverterKind::SPLINE) {
    m_spline.Convert(input, inputBytes, output, outputBytes);
  } else {
    m_sinc.Convert(input, inputBytes, output, outputBytes);
  }
}
