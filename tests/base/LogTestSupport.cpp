#include "LogTestSupport.h"

#include "Log.h"

#include <cctype>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <locale.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

CScratchFolder::CScratchFolder() {
    std::string strTemplate =
        (std::filesystem::temp_directory_path() / "tarrow-log-XXXXXX").string();
    if (::mkdtemp(strTemplate.data()) != nullptr)
        m_strPath = strTemplate;
}

CScratchFolder::~CScratchFolder() {
    if (m_strPath.empty())
        return;
    std::error_code ec;
    // Tests hand folders to another user; take them back so they can go.
    for (auto it = std::filesystem::recursive_directory_iterator(m_strPath, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
        if (::lchown(it->path().c_str(), ::geteuid(), ::getegid()) != 0)
            continue; // what cannot be taken back, remove_all leaves behind
    std::filesystem::remove_all(m_strPath, ec);
}

int RunInChild(const std::function<int()>& fn) {
    std::fflush(nullptr);
    pid_t pid = ::fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        int nCode = 2;
        try {
            nCode = fn();
        } catch (...) {
            std::fprintf(stderr, "child scenario threw\n");
        }
        std::fflush(nullptr);
        ::_exit(nCode);
    }
    int nStatus = 0;
    while (::waitpid(pid, &nStatus, 0) < 0) {
    }
    return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
}

void PrepareChild(const std::string& strTemp, const char* pszLocale) {
    ::setenv("TEMP", strTemp.c_str(), 1);
    ::unsetenv("LANG");
    ::unsetenv("LANGUAGE");
    if (pszLocale)
        ::setenv("LC_ALL", pszLocale, 1);
    else
        ::unsetenv("LC_ALL");
    TakePendingLogRecords();
}

std::string ReadFile(const std::string& strPath) {
    std::ifstream in(strPath, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteFile(const std::string& strPath, const std::string& strText) {
    std::ofstream out(strPath, std::ios::binary | std::ios::trunc);
    out << strText;
}

bool Exists(const std::string& strPath) {
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(strPath, ec));
}

std::int64_t UngroupedNumber(const std::string& str) {
    std::int64_t n = 0;
    for (char ch : str)
        if (std::isdigit(static_cast<unsigned char>(ch)))
            n = n * 10 + (ch - '0');
    return n;
}

namespace {

bool IsDigitAt(const std::string& str, std::size_t n) {
    return n < str.size() && std::isdigit(static_cast<unsigned char>(str[n]));
}

// "2011-03-04 10:20:30.123"
bool IsTimeStamp(const std::string& str) {
    static const char kShape[] = "dddd-dd-dd dd:dd:dd.ddd";
    if (str.size() != sizeof kShape - 1)
        return false;
    for (std::size_t i = 0; i < str.size(); ++i)
        if (kShape[i] == 'd' ? !IsDigitAt(str, i) : str[i] != kShape[i])
            return false;
    return true;
}

// Reads a number, digit grouping allowed, up to strEnd.
bool TakeNumber(const std::string& str, std::size_t& nPos, const std::string& strEnd,
                std::string& strNumber) {
    auto nEnd = str.find(strEnd, nPos);
    if (nEnd == std::string::npos || nEnd == nPos || !IsDigitAt(str, nPos))
        return false;
    strNumber = str.substr(nPos, nEnd - nPos);
    nPos = nEnd + strEnd.size();
    return true;
}

bool ParseHeader(const std::string& strHeader, LogEntry& entry) {
    if (strHeader.size() < 24 || strHeader[23] != ' ')
        return false;
    entry.strTime = strHeader.substr(0, 23);
    if (!IsTimeStamp(entry.strTime))
        return false;
    std::size_t nPos = 24;
    for (const char* psz : {"[debug] ", "[info]  ", "[warn]  ", "[ERROR] ", "[FATAL] "}) {
        if (strHeader.compare(nPos, 8, psz) == 0) {
            entry.strLevel = psz;
            nPos += 8;
            break;
        }
    }
    static const std::string kThread = " [Thread ID: ";
    if (strHeader.compare(nPos, kThread.size(), kThread) != 0)
        return false;
    nPos += kThread.size();
    if (!TakeNumber(strHeader, nPos, "] [Log #", entry.strThreadId) ||
        !TakeNumber(strHeader, nPos, "] ", entry.strNumber))
        return false;
    entry.strFileTag = strHeader.substr(nPos);
    entry.nThreadId = static_cast<std::uint32_t>(UngroupedNumber(entry.strThreadId));
    entry.nNumber = UngroupedNumber(entry.strNumber);
    return true;
}

} // namespace

bool ParseLogFile(const std::string& strText, std::vector<LogEntry>& entries,
                  std::string& strError) {
    entries.clear();
    std::size_t nPos = 0;
    while (nPos < strText.size()) {
        auto nHeaderEnd = strText.find("\r\n", nPos);
        auto nEnd = strText.find("\r\n\r\n", nHeaderEnd == std::string::npos ? nPos : nHeaderEnd);
        if (nHeaderEnd == std::string::npos || nEnd == std::string::npos) {
            strError = "text after entry " + std::to_string(entries.size()) + " is no whole entry";
            return false;
        }
        LogEntry entry;
        // An empty message puts the message's CR LF right after the header's.
        if (nEnd == nHeaderEnd && strText.compare(nEnd + 4, 2, "\r\n") == 0)
            nEnd += 2;
        if (!ParseHeader(strText.substr(nPos, nHeaderEnd - nPos), entry)) {
            strError = "bad header after entry " + std::to_string(entries.size()) + ": " +
                       strText.substr(nPos, nHeaderEnd - nPos);
            return false;
        }
        entry.strMessage =
            nEnd > nHeaderEnd ? strText.substr(nHeaderEnd + 2, nEnd - nHeaderEnd - 2) : "";
        entry.nBytes = nEnd + 4 - nPos;
        entries.push_back(std::move(entry));
        nPos = nEnd + 4;
    }
    return true;
}

bool HasLocale(const char* pszName) {
    locale_t loc = ::newlocale(LC_ALL_MASK, pszName, nullptr);
    if (loc == nullptr)
        return false;
    ::freelocale(loc);
    return true;
}
