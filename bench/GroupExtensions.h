// The four groups' extensions as the benchmarks' generators know them: written out here,
// not taken from the engine's filters, so a generated tree checks the engine's counts.
#pragma once

#include <array>
#include <vector>

inline const std::array<std::vector<const char*>, 4> kGroups = {{
    {"doc", "docx", "xls", "xlsx", "ppt", "pptx", "pdf", "odf", "rtf", "pst", "ost", "qbb", "qdb"},
    {"jpg", "jpeg", "png", "bmp", "gif", "psd", "tiff"},
    {"mp3", "wav", "wma", "aac", "mpa", "m4a", "aiff", "aif", "aifc"},
    {"avi", "3gp", "flv", "mkv", "mov", "mp4", "mpg", "wmv", "m4v"},
}};
