// tarrow-scan's command line: its options, declared once, and what they ask for.
#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

struct Options {
    enum class Action { scan, help, version };
    Action action = Action::scan;
    bool bJson = false;
    bool bFiles = false;
    bool bLists = false;
    bool bDebug = false;
    std::optional<int> nReadAhead;
    std::vector<std::string> arrFolders;  // absolute, resolved, each an existing folder
    std::vector<std::string> arrExclude;  // absolute
    std::vector<std::string> arrBackedUp; // the listings of backups, "-" standard input
    std::string strMetricsFolder;         // with strMetricsName: --metrics, when given
    std::string strMetricsName;
};

// Wrong usage: what to tell the user before the hint at --help.
struct UsageError {
    std::string strReason;
};

// The options as given, or why they cannot be used. Nothing is written and nothing
// ends the program here: the caller decides.
std::variant<Options, UsageError> ParseOptions(int argc, char** argv);

// --help's text.
std::string Usage();
