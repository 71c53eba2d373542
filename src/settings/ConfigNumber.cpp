#include "settings/ConfigNumber.h"

#include <cfloat>
#include <cmath>
#include <cstdio>

namespace {
bool IsDecimalDigit(char c) {
  return c >= '0' && c <= '9';
}

// The value of a hexadecimal digit, or -1.
int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool HasHexPrefix(const std::string& text, size_t at) {
  return at + 1 < text.size() && text[at] == '0' && text[at + 1] == 'x';
}

// Past this many powers of ten a double is 0 or infinite whatever the mantissa.
constexpr int64_t SCALE_LIMIT = 400;
}  // namespace

bool IsNumberText(const std::string& text, bool allowHex) {
  size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  bool hex = allowHex;
  if (HasHexPrefix(text, i)) {
    i += 2;
    hex = true;
  }
  while (i < text.size()) {
    char c = text[i];
    bool accepted = hex ? HexDigit(c) >= 0 : (IsDecimalDigit(c) || c == '.');
    if (!accepted) break;
    ++i;
  }
  return i > 0 && i == text.size();
}

int32_t TextToInt(const std::string& text) {
  constexpr uint64_t LIMIT = 2147483648u;  // the magnitude is held at this once reached
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  uint64_t magnitude = 0;
  if (HasHexPrefix(text, i)) {
    for (i += 2; i < text.size() && HexDigit(text[i]) >= 0; ++i) {
      magnitude = magnitude * 16 + static_cast<uint64_t>(HexDigit(text[i]));
      if (magnitude > LIMIT) magnitude = LIMIT;
    }
  } else {
    for (; i < text.size() && IsDecimalDigit(text[i]); ++i) {
      magnitude = magnitude * 10 + static_cast<uint64_t>(text[i] - '0');
      if (magnitude > LIMIT) magnitude = LIMIT;
    }
  }
  if (negative) return magnitude >= LIMIT ? INT32_MIN : -static_cast<int32_t>(magnitude);
  return magnitude >= LIMIT ? INT32_MAX : static_cast<int32_t>(magnitude);
}

double TextToFloat(const std::string& text) {
  constexpr uint64_t MANTISSA_LIMIT = (UINT64_MAX - 9) / 10;
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  uint64_t mantissa = 0;
  int64_t places = 0;   // decimal places held in the mantissa
  int64_t dropped = 0;  // integer digits that no longer fit the mantissa
  bool point = false;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (c == '.') {
      point = true;
    } else if (IsDecimalDigit(c)) {
      if (mantissa <= MANTISSA_LIMIT) {
        mantissa = mantissa * 10 + static_cast<uint64_t>(c - '0');
        if (point && places < SCALE_LIMIT) ++places;
      } else if (!point && dropped < SCALE_LIMIT) {
        ++dropped;
      }
    } else {
      break;
    }
  }
  int64_t exponent = 0;
  if (i < text.size() && text[i] == 'e') {
    ++i;
    bool negativeExponent = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
      negativeExponent = text[i] == '-';
      ++i;
    }
    for (; i < text.size() && IsDecimalDigit(text[i]); ++i) {
      exponent = exponent * 10 + (text[i] - '0');
      if (exponent > SCALE_LIMIT) exponent = SCALE_LIMIT;
    }
    if (negativeExponent) exponent = -exponent;
  }
  double value = static_cast<double>(mantissa);
  for (int64_t p = 0; p < places; ++p) value /= 10;
  int64_t scale = exponent + dropped;
  for (int64_t p = 0; p < scale; ++p) value *= 10;
  for (int64_t p = 0; p > scale; --p) value /= 10;
  return negative ? -value : value;
}

std::string IntToText(int32_t value) {
  char buffer[16];
  snprintf(buffer, sizeof buffer, "%d", static_cast<int>(value));
  return buffer;
}

std::string FloatToText(double value, int32_t decimals) {
  char buffer[256];
  snprintf(buffer, sizeof buffer, "%.*f", static_cast<int>(decimals), value);
  return buffer;
}

float NarrowToFloat(double value) {
  if (value > FLT_MAX && !std::isinf(value)) return FLT_MAX;
  if (value < -FLT_MAX && !std::isinf(value)) return -FLT_MAX;
  return static_cast<float>(value);
}
