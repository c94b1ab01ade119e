// The platform gate: the running kernel's version, and whether the scan is made for it.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

// Test-only: a kernel release ("2.6.32") that stands in for the running kernel's.
inline constexpr char kTestKernelVersionVariable[] = "TARROW_TEST_KERNEL_VERSION";

// The two numbers of the version the gate compares; both 0 when the query failed.
struct OsVersionInfo {
    std::uint32_t dwMajorVersion = 0;
    std::uint32_t dwMinorVersion = 0;
};

class IVersionQuery {
public:
    virtual ~IVersionQuery() = default;
    // Fills the record; FALSE, leaving it as it was, when the version cannot be had.
    virtual bool GetVersionEx(OsVersionInfo& info) const = 0;
};

// The running kernel's release (uname), or TARROW_TEST_KERNEL_VERSION when that is set.
std::unique_ptr<IVersionQuery> CreateKernelVersionQuery();

// "6.1.0-18-amd64" -> 6.1. FALSE, leaving the record alone, unless the text starts with
// two dot-separated numbers.
bool ParseKernelRelease(std::string_view strRelease, OsVersionInfo& info);

// Kernels from 3.0 on: every call the scan makes is there (O_PATH came with 2.6.39, the
// last 2.6 release; the mount table's fields and getdents64 long before).
bool IsPlatformSupported(const OsVersionInfo& info);
