// The number texts of the settings items: what counts as a number, reading
// integers and decimals from text, and writing them back.
#pragma once

#include <cstdint>
#include <string>

// One optional sign; then "0x" and hexadecimal digits, or decimal digits and
// points (hexadecimal letters too when allowHex is set). True when the whole
// text was consumed and it is not empty.
bool IsNumberText(const std::string& text, bool allowHex);

// An optional sign, then "0x" and hexadecimal digits or decimal digits, up to
// the first other character; no digit gives 0. Saturates: a magnitude of
// 2147483648 or more gives 2147483647, or -2147483648 for a negative text.
int32_t TextToInt(const std::string& text);

// An optional sign, digits and points (every digit after the first point is
// one decimal place; "1.2.3" is 1.23), then an optional "e" exponent. Digits
// beyond what 64 bits hold are dropped while keeping the scale, so long texts
// lose precision, never overflow.
double TextToFloat(const std::string& text);

// Decimal digits with a leading "-" for negatives.
std::string IntToText(int32_t value);

// The text of the C format "%.Nf" with N = decimals.
std::string FloatToText(double value, int32_t decimals);

// A double narrowed to a float; finite values beyond the float range give the
// largest float of their sign instead of an undefined conversion.
float NarrowToFloat(double value);
