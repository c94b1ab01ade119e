// File names as NTFS stores them (UTF-16) in the engine's native path bytes (UTF-8).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Appends nUnits UTF-16LE code units read from bytes (no alignment needed). A
// surrogate without its partner is written as the three bytes its code point would
// take, the way the Linux NTFS drivers show such names, so that the path still names
// the same file.
void AppendUtf16LeAsUtf8(const std::uint8_t* pBytes, std::size_t nUnits, std::string& out);
