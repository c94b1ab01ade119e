// Diagnostic log: statements from any thread, kept in memory until the log is
// configured, then written as entries to a rolling log file.
//
//   TLOG_DEBUG("EnumMgr.cpp", 70) << "Manager Thread is started";
//
// The level test comes first: a statement that does not pass evaluates none of its
// pieces. The file name and line of a statement are constants written at the call
// site, so the log stays the same when code moves.
//
// Narrow text is UTF-8 (bytes that are not pass through unchanged, so any path can
// be logged). The drive worker's separator is " \u2014 ", a space, the em dash and a
// space. Environment expansion and the program's folders are in Environment.h and
// ModulePath.h.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <sstream>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace LogLevel {
inline constexpr std::uint32_t debug = 1000;
inline constexpr std::uint32_t info = 2000;
inline constexpr std::uint32_t warn = 3000;
inline constexpr std::uint32_t error = 4000;
inline constexpr std::uint32_t fatal = 5000;
} // namespace LogLevel

// A statement passes when the threshold is less than or equal to its level.
// 0 until ConfigureLog sets it, so unconfigured statements are all kept.
extern std::atomic<std::uint32_t> g_nLogThreshold;

// The size past which a log file rolls, unless the settings give another.
inline constexpr std::int32_t kDefaultMaxLogFileSize = 0x200000;

struct LogSettings {
    // May hold %NAME% references; '\' counts as '/'. Relative: under the program's
    // folder; empty: the program's folder itself.
    std::string strDirectory;
    std::string strFileName;   // name of the log file within the folder; empty: no log
    std::int32_t nMaxFileSize; // the file rolls once past this size; 0 or less: the default
    std::int32_t nFileCount;   // files in the rolling set; less than 1: 3
    std::string strLevel;      // "none", "error", "info", "debug", "full", any case; else "error"
    bool bEraseAtStart;        // delete the set's files first
};

// Called once, by start-up, before other threads exist; later calls do nothing.
// Makes the user's locale the process's locale, then opens the log and writes the
// kept statements and the version report. When the folder cannot be created, a link
// is on its path, other users may write in it, or it or a file of the set belongs to
// another user or a file is a link, the log stays unconfigured: statements are kept in
// memory and nothing is written. Never throws. Answers why the log is not written, for
// the program to say once where the user sees it (the log cannot say it): "FOLDER: the
// reason"; empty when it is written, when none was asked for and on later calls.
std::string ConfigureLog(LogSettings settings);

// Where entries that did not reach the file are said, as the log cannot say it itself:
// called once in the process's life, for the first entry lost after ConfigureLog (a
// full or read-only disk, a file of the set that could not be opened), with "FILE: the
// reason". The log goes on with the entries after it. Called on the thread of that
// entry with the log's writer lock held: it must make no log statement. Set it before
// ConfigureLog, once.
void SetLogWriteFailureHandler(std::function<void(const std::string& strWhy)> onFailure);

// Integer pieces of a statement: written as decimal numbers. char and wchar_t are
// characters; bool is left out so that it cannot pass for either.
template <class T>
concept LogInteger = std::is_integral_v<T> && !std::is_same_v<T, char> &&
                     !std::is_same_v<T, wchar_t> && !std::is_same_v<T, bool>;

// One statement. Built in the calling thread without any lock; handed to the log
// when it goes out of scope (at the end of the statement).
class LogRecord {
public:
    LogRecord(std::uint32_t nLevel, const char* pszFileTag);
    ~LogRecord();
    LogRecord(const LogRecord&) = delete;
    LogRecord& operator=(const LogRecord&) = delete;

    // Narrow text is UTF-8; wide text is converted to UTF-8.
    LogRecord& operator<<(std::string_view str);
    LogRecord& operator<<(const char* psz) { return *this << std::string_view(psz ? psz : ""); }
    LogRecord& operator<<(const std::string& str) { return *this << std::string_view(str); }
    LogRecord& operator<<(std::wstring_view str);
    LogRecord& operator<<(const wchar_t* psz) {
        return *this << std::wstring_view(psz ? psz : L"");
    }
    LogRecord& operator<<(const std::wstring& str) { return *this << std::wstring_view(str); }
    LogRecord& operator<<(char ch) { return *this << std::string_view(&ch, 1); }
    LogRecord& operator<<(wchar_t ch) { return *this << std::wstring_view(&ch, 1); }
    // Integers go through the stream and its locale (digit grouping once configured).
    template <LogInteger T> LogRecord& operator<<(T n) {
        if constexpr (sizeof(T) == 1)
            m_stream << static_cast<int>(n); // a number, not a character
        else
            m_stream << n;
        return *this;
    }

private:
    std::uint32_t m_nLevel;
    std::uint32_t m_nThreadId;
    const char* m_pszFileTag;
    std::ostringstream m_stream;
};

// " [File: .\NAME] [Line: N]"
#define TLOG_FILE_TAG(file, nLine) " [File: .\\" file "] [Line: " #nLine "]"

// The switch keeps a statement under an unbraced "if" from taking that if's "else";
// it costs nothing. GCC still asks for braces around such a statement
// (-Wdangling-else), so write them. TLOG_TAGGED serves
// statements whose tag is chosen at run time from a table of TLOG_FILE_TAG constants.
#define TLOG_TAGGED(nLevel, pszTag)                                                                \
    switch (0)                                                                                     \
    case 0:                                                                                        \
    default:                                                                                       \
        if (::g_nLogThreshold.load(std::memory_order_relaxed) > (nLevel)) {                        \
        } else                                                                                     \
            ::LogRecord((nLevel), (pszTag))

#define TLOG(nLevel, file, nLine) TLOG_TAGGED(nLevel, TLOG_FILE_TAG(file, nLine))

#define TLOG_DEBUG(file, nLine) TLOG(::LogLevel::debug, file, nLine)
#define TLOG_INFO(file, nLine) TLOG(::LogLevel::info, file, nLine)
#define TLOG_WARN(file, nLine) TLOG(::LogLevel::warn, file, nLine)
#define TLOG_ERROR(file, nLine) TLOG(::LogLevel::error, file, nLine)
#define TLOG_FATAL(file, nLine) TLOG(::LogLevel::fatal, file, nLine)

// A statement as the unconfigured log keeps it.
struct PendingLogRecord {
    std::uint32_t nThreadId;
    std::uint32_t nLevel;
    std::string strFileTag;
    std::string strMessage;
};

// Tests of the layers above read what they logged from the pending list of an
// unconfigured log. Returns the records kept so far and empties the list.
std::vector<PendingLogRecord> TakePendingLogRecords();
