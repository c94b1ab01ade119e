// What the tests of real volumes share: running the tools that make and mount them
// (mkfs, losetup, mount...), and filling them through their mounts.
#pragma once

#include <ctime>
#include <string>
#include <vector>

#include <sys/types.h>

// Runs a program with its output (both streams) captured; the exit status, or -1.
int RunProgram(const std::vector<std::string>& args, std::string* pOutput = nullptr);

// Whether a program of this name is on the PATH.
bool HaveProgram(const char* pszName);
// Why the tools cannot be run here: who runs them is no root, or one is missing. Empty
// when they can.
std::string WhyNoTools(const std::vector<const char*>& arrTools);

// A file of nSize bytes of data.
void WriteFile(const std::string& strPath, std::size_t nSize);
// A file of nSize bytes, all a hole but its last four.
void SparseFile(const std::string& strPath, off_t nSize);
// A file's modification time, not following a link.
void SetModified(const std::string& strPath, std::time_t nSeconds, long nNanoseconds = 0);

// Makes the test's volume, or skips the test saying why it cannot be had here.
#define MAKE_IMAGE_OR_SKIP(image, options, what)                                                   \
    do {                                                                                           \
        const std::string strWhy = (image).Make(options);                                          \
        if (!strWhy.empty())                                                                       \
            GTEST_SKIP() << what " image tests skipped: " << strWhy;                               \
    } while (false)
