#include "ByteTotal.h"

#include <algorithm>

std::string ByteCountText(ByteCount nBytes) {
    std::string str;
    do {
        str += static_cast<char>('0' + static_cast<int>(nBytes % 10));
        nBytes /= 10;
    } while (nBytes != 0);
    std::reverse(str.begin(), str.end());
    return str;
}

void CByteCounter::Add(std::int64_t nSize) {
    if (nSize <= 0)
        return;
    const std::uint64_t nLow = m_nLow.load(std::memory_order_relaxed);
    const std::uint64_t nSum = nLow + static_cast<std::uint64_t>(nSize);
    if (nSum >= nLow) {
        // The upper word stays: a reader sees the old total or the new one.
        m_nLow.store(nSum, std::memory_order_release);
        return;
    }
    m_nVersion.fetch_add(1, std::memory_order_seq_cst);
    m_nHigh.fetch_add(1, std::memory_order_seq_cst);
    m_nLow.store(nSum, std::memory_order_seq_cst);
    m_nVersion.fetch_add(1, std::memory_order_seq_cst);
}

ByteCount CByteCounter::Load() const {
    for (;;) {
        const std::uint64_t nBefore = m_nVersion.load(std::memory_order_seq_cst);
        const std::uint64_t nHigh = m_nHigh.load(std::memory_order_seq_cst);
        const std::uint64_t nLow = m_nLow.load(std::memory_order_seq_cst);
        if (nBefore % 2 == 0 && m_nVersion.load(std::memory_order_seq_cst) == nBefore)
            return (static_cast<ByteCount>(nHigh) << 64) | nLow;
    }
}

void CByteCounter::Reset() {
    m_nVersion.fetch_add(1, std::memory_order_seq_cst);
    m_nHigh.store(0, std::memory_order_seq_cst);
    m_nLow.store(0, std::memory_order_seq_cst);
    m_nVersion.fetch_add(1, std::memory_order_seq_cst);
}
