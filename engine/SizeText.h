// Texts of sizes and counts as the program shows them.
#pragma once

#include "ByteTotal.h"

#include <cstdint>
#include <string>

// A byte count in B, KB, MB or GB (steps of 1024) with the string table's formats:
// whole bytes below 1024, else two decimals rounded half up on the value's decimal
// digits, with the decimal separator of the C runtime's current locale.
std::string FormatSize(std::int64_t nBytes);

// The most digits before the separator of a sum in GB: "9999999.99 GB" (about 9.5 PiB)
// is the widest GB text that fits whole in the value fields of the main and the finish
// window, at every screen scale.
inline constexpr std::size_t kMaxGigabyteDigits = 7;

// A sum of sizes the same way, and never negative: GB also for a terabyte and more,
// while the text has at most kMaxGigabyteDigits before the separator. Only a sum whose
// GB text could not be read whole goes on in steps of 1024: PB, EB, ZB, YB, RB and QB,
// the last holding every sum a scan can reach.
std::string FormatTotalSize(ByteCount nBytes);

// A number with two decimals, rounded half up on its 17 significant decimal digits
// (1.125 gives 1.13, where printf's binary rounding may give 1.12).
std::string FormatTwoDecimals(double value);
