// The program file of this process and the version it was built with.
#pragma once

#include <cstdint>
#include <string>

// Full path of the program file (from /proc/self/exe); empty when it cannot be read.
std::string GetModulePath();
// Its folder, ending with '/'; empty when the path is unknown.
std::string GetModuleFolder();
// Its file name; empty when the path is unknown.
std::string GetModuleFileName();

// The four-part version of the build (the project version).
struct ModuleVersion {
    std::uint16_t nMajor;
    std::uint16_t nMinor;
    std::uint16_t nPatch;
    std::uint16_t nTweak;
};
ModuleVersion GetModuleVersion();
