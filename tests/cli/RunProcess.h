// Runs a program as a child process and collects what it printed.
#pragma once

#include <csignal>
#include <functional>
#include <string>
#include <utility>
#include <vector>

struct ProcessResult {
    int nExitStatus = -1; // the exit status, or 128 + signal when killed by one
    std::string strOut;
    std::string strErr;
};

// strEnv entries "NAME=value" are added to (or replace in) the current environment.
// onStarted, if given, is called with the child's pid once it runs.
ProcessResult RunProcess(const std::vector<std::string>& arrArgs,
                         const std::vector<std::string>& arrEnv = {},
                         const std::function<void(pid_t)>& onStarted = nullptr);
