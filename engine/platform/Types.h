// The few Win32-shaped scalar types the engine's interfaces are written in.
#pragma once

#include <cstdint>

using DWORD = std::uint32_t;
using UINT = unsigned int;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

// A wait without a time-out (events and message pumps alike).
inline constexpr DWORD INFINITE = 0xFFFFFFFF;

// The engine's one error model:
// - A failure is an errno value carried as a DWORD; 0 means none. No Win32 numbers.
// - Below the top of a thread's work an operation reports a failure and never throws:
//   it returns the DWORD, or, where it answers a question (a bool: matched, done, may
//   go on), it leaves the code in a DWORD& parameter.
// - The manager thread, the drive worker and the NTFS enumerator raise a code with
//   RaiseError where their work cannot go on, and catch DWORD at the top of that work,
//   where it is logged with its text and the thread's clean-up still runs. No other exception is
//   thrown or swallowed; one a library throws (std::thread) becomes its code where it is caught.
// - Files written in the shared temporary folder (the list files) answer the log's
//   SafeFileResult: the errno value, or the named refusal the caller has to say.
[[noreturn]] inline void RaiseError(DWORD dwCode) {
    throw dwCode;
}
