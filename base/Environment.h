// Environment references and the folders the program keeps its files in.
//
// Configured folder texts are written the way the program's settings were first
// written: "%TEMP%\Tarrow\" with environment references and backslashes. These
// helpers turn such a text into a Linux path.
#pragma once

#include <string>
#include <string_view>

// Replaces every "%NAME%" whose NAME is set in the environment by its value; a
// reference to an unset name, "%%" and an unfinished "%NAME" stay as written.
// Names match exactly first, then without regard to letter case. "%TEMP%" always
// expands: to TEMP if set, else TMPDIR, else /tmp.
std::string ExpandEnvironmentStrings(std::string_view strText);

// Backslashes become '/'. Only for configured texts: a Linux file name may hold a
// backslash of its own.
std::string ToNativeSeparators(std::string_view strPath);

// The user's temporary folder (TEMP, else TMPDIR, else /tmp), ending with '/'.
// A variable that is empty or not an absolute path counts as unset, so the folder is
// never the file system root nor relative to the working folder.
std::string GetTempPath();

// The folder of the diagnostic log and of the per-group list files, as the log's
// settings give it.
inline constexpr const char* kLogFolderSetting = "%TEMP%\\Tarrow\\";

// kLogFolderSetting as a Linux path ending with '/'.
std::string GetLogFolder();
