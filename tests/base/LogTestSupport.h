// What the log tests share: scratch folders, configured scenarios in child
// processes, and a reader of the log file's entries.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

// A fresh folder under the system's temporary folder, removed with its content.
class CScratchFolder {
public:
    CScratchFolder();
    ~CScratchFolder();
    CScratchFolder(const CScratchFolder&) = delete;
    CScratchFolder& operator=(const CScratchFolder&) = delete;
    const std::string& Path() const { return m_strPath; }

private:
    std::string m_strPath;
};

// The log is configured once per process, so each configured scenario runs in a
// child of the test: fn runs there and its result is the child's exit code.
// Returns that code, or -1 when the child did not exit normally.
int RunInChild(const std::function<int()>& fn);

// In a child: report a failed condition on stderr and end the scenario with 1.
#define CHILD_CHECK(cond)                                                                          \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            std::fprintf(stderr, "%s:%d: child check failed: %s\n", __FILE__, __LINE__, #cond);    \
            return 1;                                                                              \
        }                                                                                          \
    } while (0)

// In a child: the log's folder is %TEMP%\Tarrow\ with TEMP set to strTemp, the
// locale names strLocale, and nothing kept from the parent is pending.
void PrepareChild(const std::string& strTemp, const char* pszLocale = "C.UTF-8");

std::string ReadFile(const std::string& strPath);
void WriteFile(const std::string& strPath, const std::string& strText);
bool Exists(const std::string& strPath);

// One entry of a log file, taken apart.
struct LogEntry {
    std::string strTime;
    std::string strLevel; // the 8-character level text, or empty
    std::string strThreadId;
    std::string strNumber;
    std::string strFileTag; // after "] ", including its leading space
    std::string strMessage;
    std::int64_t nNumber = 0; // strNumber without grouping
    std::uint32_t nThreadId = 0;
    std::size_t nBytes = 0; // the whole entry, CR LF pairs included
};

// The entries of a file's text. FALSE when any part of the text is not a whole
// entry in the log's format.
bool ParseLogFile(const std::string& strText, std::vector<LogEntry>& entries,
                  std::string& strError);

// Digits of a number with any grouping characters removed.
std::int64_t UngroupedNumber(const std::string& str);

// True when the machine has the named locale.
bool HasLocale(const char* pszName);
