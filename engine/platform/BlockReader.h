// Where a volume's bytes come from, for the readers of on-disk formats: a block device
// or image file opened read-only, or memory in tests and fuzzing.
#pragma once

#include "Types.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class IBlockReader {
public:
    virtual ~IBlockReader() = default;
    // Fills n bytes from nOffset; bytes past the end of the device read as zeros.
    // 0, or the errno value of a failed read.
    virtual DWORD ReadAt(std::uint64_t nOffset, std::uint8_t* p, std::size_t n) = 0;
    // The device's size in bytes; UINT64_MAX when it cannot be told.
    virtual std::uint64_t GetSize() const { return UINT64_MAX; }
    // These bytes will be read soon: a device may start reading them now, so that
    // several reads are in flight while the caller parses. Only a hint.
    virtual void WillNeed(std::uint64_t /*nOffset*/, std::size_t /*n*/) {}
};

// A reader over bytes in memory (tests, fuzzing, tools).
class CMemoryBlockReader final : public IBlockReader {
public:
    explicit CMemoryBlockReader(std::vector<std::uint8_t> bytes) : m_arrBytes(std::move(bytes)) {}
    DWORD ReadAt(std::uint64_t nOffset, std::uint8_t* p, std::size_t n) override;
    std::uint64_t GetSize() const override { return m_arrBytes.size(); }

private:
    std::vector<std::uint8_t> m_arrBytes;
};

// A reader over an open descriptor of a block device or image file, which it owns and
// closes. Buffered: it sees what the kernel holds of the device in its page cache,
// metadata a mounted filesystem changed but has not yet written included.
class CFileBlockReader final : public IBlockReader {
public:
    explicit CFileBlockReader(int fd);
    ~CFileBlockReader() override;
    CFileBlockReader(const CFileBlockReader&) = delete;
    CFileBlockReader& operator=(const CFileBlockReader&) = delete;

    DWORD ReadAt(std::uint64_t nOffset, std::uint8_t* p, std::size_t n) override;
    std::uint64_t GetSize() const override { return m_nSize; }
    void WillNeed(std::uint64_t nOffset, std::size_t n) override;

private:
    int m_fd;
    std::uint64_t m_nSize = UINT64_MAX;
};
