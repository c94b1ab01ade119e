#include "Utf16.h"

#include "Utf8.h"
#include "platform/LittleEndian.h"

void AppendUtf16LeAsUtf8(const std::uint8_t* pBytes, std::size_t nUnits, std::string& out) {
    auto unit = [pBytes](std::size_t i) -> std::uint32_t { return ReadLe16(pBytes + 2 * i); };
    for (std::size_t i = 0; i < nUnits; ++i) {
        std::uint32_t c = unit(i);
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < nUnits) {
            const std::uint32_t low = unit(i + 1);
            if (low >= 0xDC00 && low < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        AppendUtf8(out, c);
    }
}
