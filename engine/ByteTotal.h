// Sums of file sizes, for the counters of the window and of tarrow-scan.
//
// A sum never wraps: a file holds less than 2^63 bytes and a scan counts fewer than
// 2^63 files, so 128 bits hold every sum exactly. Sparse files make such sums real:
// any user can make a few files of 4 EiB on a small disk.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

__extension__ typedef unsigned __int128 ByteCount; // no ISO 128-bit type yet

// A negative size (no file system gives one) counts as nothing.
constexpr ByteCount ByteCountOf(std::int64_t nSize) {
    return nSize > 0 ? static_cast<ByteCount>(nSize) : 0;
}

// The exact decimal digits of the count.
std::string ByteCountText(ByteCount nBytes);

// A running total that one thread at a time adds to while others read it: a reader
// never sees half of a carry into the upper word.
class CByteCounter {
public:
    void Add(std::int64_t nSize);
    ByteCount Load() const;
    void Reset();

private:
    // Odd while a carry is being written.
    std::atomic<std::uint64_t> m_nVersion{0};
    std::atomic<std::uint64_t> m_nLow{0};
    std::atomic<std::uint64_t> m_nHigh{0};
};
