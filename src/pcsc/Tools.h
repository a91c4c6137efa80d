// Hexadecimal conversions between bytes and text, used for ATRs in queued
// events and for the text forms of the reader's transmit and control calls.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "pcsc/PCSCDef.h"

namespace pcsc {

// Two upper-case digits per byte, one blank between bytes, none at the ends:
// {3B 6F 00} -> "3B 6F 00".
std::u16string BytesToHexString(const Bytes& bytes);

// Keeps only the hexadecimal digits (any case) and drops everything else;
// an odd count gets a leading "0": "ABC" -> {0A BC}, "0x1F" -> {00 1F}.
Bytes HexStringToBytes(std::u16string_view text);

// 0..15 for a hexadecimal digit of either case, 255 for anything else.
std::uint8_t HexDigitValue(char16_t c);

}  // namespace pcsc
