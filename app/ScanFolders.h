// What the windowed program scans: every fixed drive of the machine, or, for tests and
// automation, only the folders named by TARROW_SCAN_FOLDERS.
#pragma once

#include "EnumMgr.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Folders separated by ':' (as in PATH); relative ones are taken from the working
// folder. Set but naming no usable folder, it scans nothing, never the machine.
inline constexpr char kScanFoldersVariable[] = "TARROW_SCAN_FOLDERS";

// The folders of a TARROW_SCAN_FOLDERS value as absolute paths without links; entries
// that are not existing folders go to arrLeftOut. Empty entries are skipped.
std::vector<std::string> ResolveScanFolders(std::string_view strValue,
                                            std::vector<std::string>& arrLeftOut);

// The system's scan when TARROW_SCAN_FOLDERS is unset; else its folders standing as the
// fixed drives, each entry left out named on stderr.
std::shared_ptr<const ScanSetup> ScanSetupFromEnvironment();
