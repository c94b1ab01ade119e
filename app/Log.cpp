#include "Log.h"

#include <mutex>
#include <utility>

#include <sys/syscall.h>
#include <unistd.h>

std::atomic<std::uint32_t> g_nLogThreshold{0};

namespace {

std::uint32_t CurrentThreadId() {
    return static_cast<std::uint32_t>(::syscall(SYS_gettid));
}

std::string Utf8FromWide(std::wstring_view str) {
    std::string out;
    out.reserve(str.size());
    for (wchar_t wc : str) {
        auto c = static_cast<std::uint32_t>(wc);
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            c = 0xFFFD;
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

struct PendingList {
    std::mutex m_lock;
    bool m_bOn = true;
    std::vector<PendingLogRecord> m_records;
};

PendingList& Pending() {
    static PendingList list;
    return list;
}

} // namespace

LogRecord::LogRecord(std::uint32_t nLevel, const char* pszFileTag)
    : m_nLevel(nLevel), m_nThreadId(CurrentThreadId()), m_pszFileTag(pszFileTag ? pszFileTag : "") {
}

LogRecord::~LogRecord() {
    PendingList& list = Pending();
    std::lock_guard lock(list.m_lock);
    if (list.m_bOn)
        list.m_records.push_back({m_nThreadId, m_nLevel, m_pszFileTag, std::move(m_stream).str()});
}

LogRecord& LogRecord::operator<<(std::string_view str) {
    m_stream << str;
    return *this;
}

LogRecord& LogRecord::operator<<(std::wstring_view str) {
    m_stream << Utf8FromWide(str);
    return *this;
}

void ConfigureLog(LogSettings /*settings*/) {}

std::vector<PendingLogRecord> TakePendingLogRecords() {
    PendingList& list = Pending();
    std::lock_guard lock(list.m_lock);
    return std::exchange(list.m_records, {});
}
