// Little-endian numbers in bytes from disks and record buffers: at any alignment and
// whatever the host's byte order (compilers make each one load or store).
#pragma once

#include <cstdint>

inline std::uint16_t ReadLe16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

inline std::uint32_t ReadLe32(const std::uint8_t* p) {
    return p[0] | static_cast<std::uint32_t>(p[1]) << 8 | static_cast<std::uint32_t>(p[2]) << 16 |
           static_cast<std::uint32_t>(p[3]) << 24;
}

inline std::uint64_t ReadLe64(const std::uint8_t* p) {
    return ReadLe32(p) | static_cast<std::uint64_t>(ReadLe32(p + 4)) << 32;
}

inline void WriteLe16(std::uint8_t* p, std::uint16_t n) {
    p[0] = static_cast<std::uint8_t>(n);
    p[1] = static_cast<std::uint8_t>(n >> 8);
}

inline void WriteLe32(std::uint8_t* p, std::uint32_t n) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(n >> (8 * i));
}

inline void WriteLe64(std::uint8_t* p, std::uint64_t n) {
    for (int i = 0; i < 8; ++i)
        p[i] = static_cast<std::uint8_t>(n >> (8 * i));
}
