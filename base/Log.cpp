#include "Log.h"

#include "Utf8.h"

#include "Environment.h"
#include "ModulePath.h"
#include "Path.h"
#include "RollingFile.h"
#include "TextEncoder.h"

#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/format.hpp>

#include <clocale>
#include <langinfo.h>
#include <locale>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <strings.h>
#include <unistd.h>
#include <utility>

std::atomic<std::uint32_t> g_nLogThreshold{0};

namespace {

std::uint32_t CurrentThreadId() {
    return static_cast<std::uint32_t>(::gettid());
}

std::string Utf8FromWide(std::wstring_view str) {
    std::string out;
    out.reserve(str.size());
    for (wchar_t wc : str) {
        auto c = static_cast<std::uint32_t>(wc);
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            c = 0xFFFD;
        AppendUtf8(out, c);
    }
    return out;
}

// Every text is 8 characters wide so that the headers line up.
std::string_view LevelText(std::uint32_t nLevel) {
    switch (nLevel) {
    case LogLevel::debug:
        return "[debug] ";
    case LogLevel::info:
        return "[info]  ";
    case LogLevel::warn:
        return "[warn]  ";
    case LogLevel::error:
        return "[ERROR] ";
    case LogLevel::fatal:
        return "[FATAL] ";
    default:
        return "";
    }
}

std::uint32_t ThresholdFromName(const std::string& strLevel) {
    const char* psz = strLevel.c_str();
    if (::strcasecmp(psz, "none") == 0)
        return 0xFFFFFFFF;
    if (::strcasecmp(psz, "info") == 0)
        return LogLevel::info;
    if (::strcasecmp(psz, "debug") == 0)
        return LogLevel::debug;
    if (::strcasecmp(psz, "full") == 0)
        return 0;
    return LogLevel::error; // "error" and every name the log does not know
}

// The process takes the locale the environment names. A name this machine has no
// locale for leaves the "C" locale in force: the log never ends the process.
void UseUserLocale() {
    try {
        std::locale::global(std::locale(""));
    } catch (const std::runtime_error&) {
        return;
    }
    std::setlocale(LC_ALL, "");
}

std::string VersionReport() {
    const std::string strLine(72, '-');
    const ModuleVersion version = GetModuleVersion();
    // The log code is linked into the program, so both names are the program's.
    const std::string strModule = GetModuleFileName();
    return (boost::format("%s\r\n\t%s version is %d.%d.%d.%d (loaded by %s)\r\n%s") % strLine %
            strModule % version.nMajor % version.nMinor % version.nPatch % version.nTweak %
            strModule % strLine)
        .str();
}

// Zero-padded decimal digits, never grouped: the time stamp's form is fixed.
void AppendDigits(std::string& str, int nValue, int nDigits) {
    char buf[8];
    for (int i = nDigits - 1; i >= 0; --i, nValue /= 10)
        buf[i] = static_cast<char>('0' + nValue % 10);
    str.append(buf, static_cast<std::size_t>(nDigits));
}

// "yyyy-MM-dd hh:mm:ss.mmm", local time.
void AppendTimeStamp(std::string& str) {
    boost::posix_time::ptime now;
    try {
        now = boost::posix_time::microsec_clock::local_time();
    } catch (const std::exception&) {
        now = boost::posix_time::microsec_clock::universal_time();
    }
    const auto date = now.date().year_month_day();
    const auto time = now.time_of_day();
    AppendDigits(str, date.year, 4);
    str += '-';
    AppendDigits(str, date.month, 2);
    str += '-';
    AppendDigits(str, date.day, 2);
    str += ' ';
    AppendDigits(str, static_cast<int>(time.hours()), 2);
    str += ':';
    AppendDigits(str, static_cast<int>(time.minutes()), 2);
    str += ':';
    AppendDigits(str, static_cast<int>(time.seconds()), 2);
    str += '.';
    AppendDigits(str, static_cast<int>(time.total_milliseconds() % 1000), 3);
}

// Formats entries and hands them to the rolling file. Everything in it runs under
// the writer lock, so entries never interleave and their numbers follow the file.
class CLogWriter {
public:
    std::mutex m_lock;

    // The locale in force now numbers the headers from here on.
    void Start(std::unique_ptr<CRollingFile> file, std::string strFolder) {
        m_numbers.imbue(std::locale());
        m_encoder.emplace(::nl_langinfo(CODESET));
        m_file = std::move(file);
        m_strFolder = std::move(strFolder);
    }

    std::function<void(const std::string&)> m_onFailure;

    void WriteLocked(std::uint32_t nThreadId, std::uint32_t nLevel, std::string_view strFileTag,
                     std::string_view strMessage) {
        // A signed counter as in the file format; it wraps instead of overflowing.
        m_nEntry = static_cast<std::int32_t>(static_cast<std::uint32_t>(m_nEntry) + 1);
        m_strEntry.clear();
        AppendTimeStamp(m_strEntry);
        m_strEntry += ' ';
        m_strEntry += LevelText(nLevel);
        m_strEntry += " [Thread ID: ";
        AppendNumber(nThreadId);
        m_strEntry += "] [Log #";
        AppendNumber(m_nEntry);
        m_strEntry += "] ";
        m_strEntry += strFileTag;
        m_strEntry += "\r\n";
        m_strEntry += strMessage;
        m_strEntry += "\r\n\r\n";
        SafeFileResult written;
        if (m_encoder->IsPassThrough()) {
            written = m_file->Write(m_strEntry);
        } else {
            m_strBytes.clear();
            m_encoder->Append(m_strEntry, m_strBytes);
            written = m_file->Write(m_strBytes);
        }
        if (!written && !std::exchange(m_bFailureSaid, true) && m_onFailure) {
            m_onFailure(JoinPath(m_strFolder, m_file->GetFileName(m_file->GetCurrentIndex())) +
                        ": " + written.GetText());
        }
    }

private:
    template <class T> void AppendNumber(T n) {
        m_numbers.str(std::string());
        m_numbers << n;
        m_strEntry += m_numbers.view();
    }

    std::int32_t m_nEntry = 0;
    std::ostringstream m_numbers;
    std::optional<CTextEncoder> m_encoder;
    std::unique_ptr<CRollingFile> m_file;
    std::string m_strFolder;
    bool m_bFailureSaid = false;
    std::string m_strEntry; // kept between entries so that writing seldom allocates
    std::string m_strBytes;
};

class CLog {
public:
    void HandOver(std::uint32_t nThreadId, std::uint32_t nLevel, const char* pszFileTag,
                  std::string strMessage) {
        if (m_bPending.load(std::memory_order_acquire)) {
            std::lock_guard lock(m_pendingLock);
            if (m_bPending.load(std::memory_order_relaxed)) {
                m_pending.push_back({nThreadId, nLevel, pszFileTag, std::move(strMessage)});
                return;
            }
        }
        std::lock_guard lock(m_writer.m_lock);
        m_writer.WriteLocked(nThreadId, nLevel, pszFileTag, strMessage);
    }

    std::vector<PendingLogRecord> TakePending() {
        std::lock_guard lock(m_pendingLock);
        return std::exchange(m_pending, {});
    }

    std::string Configure(LogSettings settings);

    void SetFailureHandler(std::function<void(const std::string&)> onFailure) {
        std::lock_guard lock(m_writer.m_lock);
        m_writer.m_onFailure = std::move(onFailure);
    }

private:
    // The pending list: on from process start until the log is configured.
    std::mutex m_pendingLock;
    std::atomic<bool> m_bPending{true};
    std::vector<PendingLogRecord> m_pending;

    CLogWriter m_writer;
    bool m_bConfigureCalled = false; // under the writer lock
};

std::string CLog::Configure(LogSettings settings) {
    // Held throughout, so that no statement can be written ahead of the kept ones.
    std::lock_guard writerLock(m_writer.m_lock);
    if (std::exchange(m_bConfigureCalled, true))
        return {};

    UseUserLocale();
    if (settings.strFileName.empty())
        return {};

    std::string strFolder;
    if (settings.strDirectory.empty()) {
        strFolder = GetModuleFolder();
    } else {
        // The setting's separators, not those in the variables' values: on Linux a backslash
        // there is part of a name.
        strFolder = ExpandEnvironmentStrings(ToNativeSeparators(settings.strDirectory));
        if (strFolder.empty() || strFolder.front() != '/') {
            std::string strModuleFolder = GetModuleFolder();
            if (strModuleFolder.empty()) // a relative folder has nothing to stand under
                return strFolder + ": the program's own folder is not known";
            strFolder = JoinPath(strModuleFolder, strFolder);
        }
    }
    CFileHandle folder;
    if (strFolder.empty())
        return "no folder is set for the log";
    if (SafeFileResult result = OpenPrivateFolder(strFolder, true, folder); !result)
        return strFolder + ": " + result.GetText();

    const std::int64_t nMaxSize =
        settings.nMaxFileSize <= 0 ? kDefaultMaxLogFileSize : settings.nMaxFileSize;
    const int nFileCount = settings.nFileCount < 1 ? 3 : settings.nFileCount;

    // The file name may name a subfolder too; the file opens in the folder that
    // holds it.
    std::string strFile = ToNativeSeparators(settings.strFileName);
    std::string strPath = strFile.front() == '/' ? strFile : JoinPath(strFolder, strFile);
    auto nSlash = strPath.rfind('/');
    std::string strFileFolder = nSlash == 0 ? std::string("/") : strPath.substr(0, nSlash);
    std::string strName = strPath.substr(nSlash + 1);
    auto file = std::make_unique<CRollingFile>();
    if (!file->Open(strFileFolder, strName, nMaxSize, nFileCount, settings.bEraseAtStart))
        return JoinPath(strFileFolder, strName) +
               ": a file of the log, or its folder, is a link or not the user's own";
    m_writer.Start(std::move(file), strFileFolder);

    std::vector<PendingLogRecord> records;
    {
        std::lock_guard lock(m_pendingLock);
        m_bPending.store(false, std::memory_order_release);
        records = std::exchange(m_pending, {});
    }
    for (const PendingLogRecord& record : records)
        m_writer.WriteLocked(record.nThreadId, record.nLevel, record.strFileTag, record.strMessage);

    g_nLogThreshold.store(ThresholdFromName(settings.strLevel), std::memory_order_relaxed);
    if (g_nLogThreshold.load(std::memory_order_relaxed) <= LogLevel::info)
        m_writer.WriteLocked(CurrentThreadId(), 0, "", VersionReport());
    return {};
}

// Created on first use and never destroyed: a scan thread that makes a statement
// while the process exits must not meet a log whose lock and file are gone. Every
// entry is already on disk, and the system closes the file.
union CLogForever {
    CLog m_log;
    CLogForever() : m_log() {}
    ~CLogForever() {}
};

CLog& TheLog() {
    static CLogForever forever;
    return forever.m_log;
}

} // namespace

LogRecord::LogRecord(std::uint32_t nLevel, const char* pszFileTag)
    : m_nLevel(nLevel), m_nThreadId(CurrentThreadId()), m_pszFileTag(pszFileTag ? pszFileTag : "") {
}

LogRecord::~LogRecord() {
    try {
        TheLog().HandOver(m_nThreadId, m_nLevel, m_pszFileTag, std::move(m_stream).str());
    } catch (...) {
        // A statement that cannot be kept or written is lost; the program goes on.
    }
}

LogRecord& LogRecord::operator<<(std::string_view str) {
    m_stream << str;
    return *this;
}

LogRecord& LogRecord::operator<<(std::wstring_view str) {
    m_stream << Utf8FromWide(str);
    return *this;
}

std::string ConfigureLog(LogSettings settings) {
    try {
        return TheLog().Configure(std::move(settings));
    } catch (...) {
        // Whatever failed leaves the log as far as it got; the program goes on.
        return "the log could not be set up";
    }
}

void SetLogWriteFailureHandler(std::function<void(const std::string& strWhy)> onFailure) {
    TheLog().SetFailureHandler(std::move(onFailure));
}

std::vector<PendingLogRecord> TakePendingLogRecords() {
    return TheLog().TakePending();
}
