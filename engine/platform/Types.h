// The few Win32-shaped scalar types the engine's interfaces are written in.
#pragma once

#include <cstdint>

using DWORD = std::uint32_t;
using UINT = unsigned int;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

// Failures inside the engine are raised as a bare error code (an errno value on
// Linux) and caught at the top of the work that raised them.
[[noreturn]] inline void RaiseError(DWORD dwCode) {
    throw dwCode;
}
