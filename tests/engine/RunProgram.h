// Runs the tools that make and mount test volumes (mkfs, losetup, mount...).
#pragma once

#include <string>
#include <vector>

// Runs a program with its output (both streams) captured; the exit status, or -1.
int RunProgram(const std::vector<std::string>& args, std::string* pOutput = nullptr);

// Whether a program of this name is on the PATH.
bool HaveProgram(const char* pszName);
