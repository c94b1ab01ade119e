// Runs a program as a child process and collects what it printed.
#pragma once

#include <csignal>
#include <functional>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

struct ProcessResult {
    int nExitStatus = -1; // the exit status, or 128 + signal when killed by one
    std::string strOut;
    std::string strErr;
};

// strEnv entries "NAME=value" are added to (or replace in) the current environment.
// onStarted, if given, is called with the child's pid once it runs. fdStdout, if not
// -1, is the child's standard output instead of a pipe that is collected.
ProcessResult RunProcess(const std::vector<std::string>& arrArgs,
                         const std::vector<std::string>& arrEnv = {},
                         const std::function<void(pid_t)>& onStarted = nullptr, int fdStdout = -1);

// The words that run a program as the unprivileged user "nobody" (none when this
// process is not root); false when this machine offers no way to.
bool UnprivilegedPrefix(std::vector<std::string>& arrPrefix);
inline constexpr uid_t kNobody = 65534;
