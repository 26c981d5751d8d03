// Conversion between ISO 8859-1 and the GSM 03.38 default alphabet, one byte each way.
//
// latin1ToGsm: a character that exists in ISO 8859-1 and as a single default-alphabet code
// maps to that code; LF and CR to themselves; everything else (controls, 0x80-0x9F, the
// ASCII characters the default alphabet reaches only through its escape, and the inverted
// exclamation mark) to a blank. gsmToLatin1 is its inverse by the same rule.
// Both tables are constant and may be read from any thread.
#pragma once

#include <array>
#include <cstdint>

namespace gsms {

extern const std::array<std::uint8_t, 256> latin1ToGsm;
extern const std::array<std::uint8_t, 256> gsmToLatin1;

}  // namespace gsms
