#include "BackupListing.h"

#include "SafeFile.h"

#include <simdjson.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <limits>
#include <optional>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace json = simdjson::ondemand;

namespace {

// The names the reader answers with its messages.
constexpr const char* kWhatWeRead =
    "restic ls --json SNAPSHOT (restic 0.14 or newer) or borg list --json-lines ARCHIVE "
    "(borg 1.2 or newer)";

// A time of a listing: "YYYY-MM-DDTHH:MM:SS", a fraction of up to nine digits, then "Z",
// "+HH:MM", "-HH:MM" or, in borg's local times, nothing.
struct ListingTime {
    std::int64_t nFieldSeconds = 0; // the fields as seconds since 1970, in their own zone
    bool bOffset = false;
    std::int64_t nOffset = 0; // seconds east of UTC
};

bool Digits(std::string_view s, std::size_t nAt, std::size_t nCount, int& nValue) {
    if (s.size() < nAt + nCount)
        return false;
    nValue = 0;
    for (std::size_t i = nAt; i < nAt + nCount; ++i) {
        if (s[i] < '0' || s[i] > '9')
            return false;
        nValue = nValue * 10 + (s[i] - '0');
    }
    return true;
}

bool ParseTime(std::string_view s, ListingTime& t) {
    int y, mo, d, h, mi, sec;
    if (!Digits(s, 0, 4, y) || s[4] != '-' || !Digits(s, 5, 2, mo) || s[7] != '-' ||
        !Digits(s, 8, 2, d) || s.size() < 11 || s[10] != 'T' || !Digits(s, 11, 2, h) ||
        s.size() < 14 || s[13] != ':' || !Digits(s, 14, 2, mi) || s.size() < 17 || s[16] != ':' ||
        !Digits(s, 17, 2, sec))
        return false;
    std::size_t i = 19;
    if (i < s.size() && s[i] == '.') {
        const std::size_t nStart = ++i;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9')
            ++i;
        if (i == nStart || i - nStart > 9)
            return false;
    }
    t.bOffset = false;
    t.nOffset = 0;
    if (i < s.size() && s[i] == 'Z') {
        t.bOffset = true;
        ++i;
    } else if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        int oh, om;
        if (!Digits(s, i + 1, 2, oh) || s.size() < i + 6 || s[i + 3] != ':' ||
            !Digits(s, i + 4, 2, om) || oh > 23 || om > 59)
            return false;
        t.bOffset = true;
        t.nOffset = (s[i] == '-' ? -1 : 1) * (oh * 3600 + om * 60);
        i += 6;
    }
    if (i != s.size())
        return false;
    SYSTEMTIME st;
    st.wYear = static_cast<std::uint16_t>(y);
    st.wMonth = static_cast<std::uint16_t>(mo);
    st.wDay = static_cast<std::uint16_t>(d);
    st.wHour = static_cast<std::uint16_t>(h);
    st.wMinute = static_cast<std::uint16_t>(mi);
    st.wSecond = static_cast<std::uint16_t>(sec);
    return SystemTimeToSeconds(st, t.nFieldSeconds);
}

// Local wall-clock seconds of a listing's time, the fraction dropped: the found files'
// dates drop theirs too. false when the local time cannot be had (before 1601).
bool LocalSecondsOf(const ListingTime& t, const ILocalTime& localTime, std::int64_t& nSeconds) {
    if (!t.bOffset) {
        nSeconds = t.nFieldSeconds;
        return true;
    }
    const std::timespec utc{static_cast<std::time_t>(t.nFieldSeconds - t.nOffset), 0};
    FILETIME ft;
    SYSTEMTIME st;
    return localTime.FileTimeToLocalFileTime(utc, ft) && FileTimeToSystemTime(ft, st) &&
           SystemTimeToSeconds(st, nSeconds);
}

// Whether a string's raw JSON holds the escape \ufffd: Go writes each byte of a name
// that is not UTF-8 so, and the character U+FFFD itself as its three bytes.
bool HasReplacementEscape(std::string_view strRaw) {
    for (std::size_t i = 0; i + 6 <= strRaw.size(); ++i) {
        if (strRaw[i] != '\\')
            continue;
        if (strRaw[i + 1] == 'u') {
            std::string strHex(strRaw.substr(i + 2, 4));
            std::transform(strHex.begin(), strHex.end(), strHex.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            if (strHex == "fffd")
                return true;
        }
        ++i; // the escaped character is no backslash of its own
    }
    return false;
}

// The fields of a line the reader uses; string views live until the next line.
struct LineFields {
    std::optional<std::string_view> kind; // restic: struct_type, or message_type
    std::optional<std::string_view> type, mode, path, mtime, source, linktarget;
    std::optional<std::string_view> id, time, hostname;
    std::optional<std::vector<std::string>> arrPaths;
    std::optional<std::uint64_t> nSize;
    std::optional<bool> bHealthy;
    bool bPathStandIns = false;
};

// borg writes each byte of a name that is not UTF-8 as '?', like the name's own '?'s.
NameForm BorgForm(std::string_view strPath) {
    return strPath.find('?') == std::string_view::npos ? NameForm::exact : NameForm::question;
}

// The keys the reader takes; the others are passed over.
enum class Key : std::uint8_t {
    other,
    path,
    type,
    size,
    mtime,
    kind,
    mode,
    source,
    linktarget,
    healthy,
    id,
    time,
    hostname,
    paths
};

// A line has a dozen keys: told apart by their length first.
Key KeyOf(std::string_view s) {
    switch (s.size()) {
    case 2:
        return s == "id" ? Key::id : Key::other;
    case 4:
        return s == "path"   ? Key::path
               : s == "type" ? Key::type
               : s == "size" ? Key::size
               : s == "mode" ? Key::mode
               : s == "time" ? Key::time
                             : Key::other;
    case 5:
        return s == "mtime" ? Key::mtime : s == "paths" ? Key::paths : Key::other;
    case 6:
        return s == "source" ? Key::source : Key::other;
    case 7:
        return s == "healthy" ? Key::healthy : Key::other;
    case 8:
        return s == "hostname" ? Key::hostname : Key::other;
    case 10:
        return s == "linktarget" ? Key::linktarget : Key::other;
    case 11: // restic's struct_type, and message_type from 0.17 on
    case 12:
        return s == "struct_type" || s == "message_type" ? Key::kind : Key::other;
    }
    return Key::other;
}

std::string Quoted(std::string_view strKey) {
    return "\"" + std::string(strKey) + "\"";
}

} // namespace

struct CListingReader::Impl {
    Impl(CBackupIndex& index, std::string strListing, ListingPathFilter keep,
         const ILocalTime& localTime)
        : index(index), keep(std::move(keep)), localTime(localTime),
          buf(new char[kMaxLine + kBlock + simdjson::SIMDJSON_PADDING]),
          nFirstEntry(index.Entries()) {
        info.strListing = std::move(strListing);
    }

    static constexpr std::size_t kBufSize = kMaxLine + kBlock + simdjson::SIMDJSON_PADDING;
    enum class Format : std::uint8_t { unknown, restic, borg };

    bool Fail(std::string strWhy) {
        strError = "line " + std::to_string(nLine) + ": " + std::move(strWhy);
        bFailed = true;
        return false;
    }
    bool Lines();
    bool Line(const char* p, std::size_t n);
    simdjson::error_code Fields(json::object& obj, LineFields& f);
    bool String(json::value& v, std::string_view strKey, std::optional<std::string_view>& out);
    bool First(const LineFields& f);
    bool ResticNode(const LineFields& f);
    bool BorgItem(const LineFields& f);
    bool File(const std::string_view strPath, NameForm form, const LineFields& f,
              std::optional<std::string_view> first = std::nullopt);
    bool Modified(const LineFields& f, std::int64_t& nModified, bool& bUsable);

    CBackupIndex& index;
    ListingPathFilter keep;
    const ILocalTime& localTime;
    BackupListingInfo info;
    std::unique_ptr<char[]> buf;
    std::size_t nUsed = 0;    // bytes in buf
    std::size_t nScanned = 0; // of them, known to hold no line's end
    std::int64_t nLine = 0;   // the line being read, from 1
    bool bAnyLine = false;
    bool bFailed = false;
    Format format = Format::unknown;
    std::size_t nFirstEntry;
    std::vector<CBackupIndex::HardLink> arrLinks;
    std::string strPath; // borg's path with its '/'
    std::string strError;
    json::parser parser{kMaxLine};
};

CListingReader::CListingReader(CBackupIndex& index, std::string strListing, ListingPathFilter keep,
                               const ILocalTime& localTime)
    : m_p(std::make_unique<Impl>(index, std::move(strListing), std::move(keep), localTime)) {}

CListingReader::~CListingReader() = default;

std::span<char> CListingReader::Space() {
    return {m_p->buf.get() + m_p->nUsed, kMaxLine + kBlock - m_p->nUsed};
}

bool CListingReader::Commit(std::size_t n) {
    if (m_p->bFailed)
        return false;
    m_p->nUsed += std::min(n, kMaxLine + kBlock - m_p->nUsed);
    return m_p->Lines();
}

bool CListingReader::Feed(std::string_view bytes) {
    while (!bytes.empty()) {
        std::span<char> space = Space();
        const std::size_t n = std::min(space.size(), bytes.size());
        std::memcpy(space.data(), bytes.data(), n);
        bytes.remove_prefix(n);
        if (!Commit(n))
            return false;
    }
    return true;
}

const std::string& CListingReader::Error() const {
    return m_p->strError;
}

bool CListingReader::Impl::Lines() {
    char* const pBuf = buf.get();
    std::size_t nStart = 0;
    while (const void* pEnd = std::memchr(pBuf + nScanned, '\n', nUsed - nScanned)) {
        const auto nEnd = static_cast<std::size_t>(static_cast<const char*>(pEnd) - pBuf);
        ++nLine;
        if (nEnd - nStart > kMaxLine)
            return Fail("longer than 1 MiB: not a line of a listing");
        if (!Line(pBuf + nStart, nEnd - nStart))
            return false;
        nStart = nScanned = nEnd + 1;
    }
    nScanned = nUsed;
    if (nUsed - nStart > kMaxLine) {
        ++nLine;
        return Fail("longer than 1 MiB: not a line of a listing");
    }
    std::memmove(pBuf, pBuf + nStart, nUsed - nStart);
    nUsed -= nStart;
    nScanned -= nStart;
    return true;
}

bool CListingReader::Finish() {
    Impl& r = *m_p;
    if (r.bFailed)
        return false;
    if (r.nUsed > 0) { // a last line without its line end
        ++r.nLine;
        if (!r.Line(r.buf.get(), r.nUsed))
            return false;
        r.nUsed = r.nScanned = 0;
    }
    if (!r.bAnyLine) {
        r.strError = "empty: not a listing of " + std::string(kWhatWeRead);
        r.bFailed = true;
        return false;
    }
    if (!r.index.AddHardLinks(r.nFirstEntry, std::move(r.arrLinks)))
        return r.Fail("more files than tarrow-scan can hold");
    r.index.AddListing(std::move(r.info));
    return true;
}

bool CListingReader::Impl::Line(const char* p, std::size_t n) {
    const std::string_view strLine(p, n);
    const std::size_t nFirst = strLine.find_first_not_of(" \t\r");
    if (nFirst == std::string_view::npos)
        return true; // an empty line says nothing
    json::document doc;
    json::object obj;
    simdjson::error_code e =
        parser.iterate(p, n, kBufSize - static_cast<std::size_t>(p - buf.get())).get(doc);
    if (!e)
        e = doc.get_object().get(obj);
    if (e == simdjson::INCORRECT_TYPE && strLine[nFirst] == '[')
        return Fail("one JSON array, as restic 0.9.3 and older wrote their listings (and restic "
                    "snapshots --json writes): tarrow-scan reads " +
                    std::string(kWhatWeRead));
    if (e == simdjson::INCORRECT_TYPE)
        return Fail("not a JSON object: tarrow-scan reads " + std::string(kWhatWeRead));
    LineFields f;
    if (!e)
        e = Fields(obj, f);
    if (bFailed)
        return false;
    if (e == simdjson::UTF8_ERROR)
        return Fail("holds bytes that are not UTF-8, as no JSON does");
    if (e)
        return Fail("not a whole JSON object (" + std::string(simdjson::error_message(e)) + ")");
    // At the end, the document has no location left.
    if (doc.current_location().error() != simdjson::OUT_OF_BOUNDS)
        return Fail("more than one JSON value on the line");
    bAnyLine = true;
    switch (format) {
    case Format::unknown:
        return First(f);
    case Format::restic:
        return ResticNode(f);
    case Format::borg:
        return BorgItem(f);
    }
    return false;
}

bool CListingReader::Impl::String(json::value& v, std::string_view strKey,
                                  std::optional<std::string_view>& out) {
    std::string_view s;
    json::json_type type;
    if (v.type().get(type) || type != json::json_type::string || v.get_string().get(s))
        return Fail(Quoted(strKey) + " is not a string");
    out = s;
    return true;
}

// The JSON's own error, if it is not well formed; a field of a wrong type fails the
// line itself (bFailed).
simdjson::error_code CListingReader::Impl::Fields(json::object& obj, LineFields& f) {
    constexpr simdjson::error_code kFailed = simdjson::INCORRECT_TYPE;
    for (auto fieldResult : obj) {
        json::field field;
        std::string_view strKey;
        if (simdjson::error_code e = std::move(fieldResult).get(field))
            return e;
        if (simdjson::error_code e = field.unescaped_key().get(strKey))
            return e;
        json::value v = field.value();
        json::json_type type = json::json_type::null;
        const Key key = KeyOf(strKey);
        if (key != Key::other) {
            if (simdjson::error_code e = v.type().get(type))
                return e;
        }
        bool bOk = true;
        switch (key) {
        case Key::other:
            break;
        case Key::path:
            f.bPathStandIns = HasReplacementEscape(v.raw_json_token());
            bOk = String(v, strKey, f.path);
            break;
        case Key::type:
            bOk = String(v, strKey, f.type);
            break;
        case Key::size: {
            std::uint64_t n;
            if (type != json::json_type::number || v.get_uint64().get(n) ||
                n > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
                bOk = Fail("\"size\" is not a number of bytes a file can have");
            else
                f.nSize = n;
            break;
        }
        case Key::mtime:
            bOk = String(v, strKey, f.mtime);
            break;
        case Key::kind:
            bOk = String(v, strKey, f.kind);
            break;
        case Key::mode:
            // restic's mode is a number, borg's a text such as "-rw-r--r--".
            if (type == json::json_type::string)
                bOk = String(v, strKey, f.mode);
            break;
        case Key::source:
            bOk = String(v, strKey, f.source);
            break;
        case Key::linktarget:
            bOk = String(v, strKey, f.linktarget);
            break;
        case Key::healthy: {
            bool b = false;
            bOk = type == json::json_type::boolean && !v.get_bool().get(b);
            if (bOk)
                f.bHealthy = b;
            else
                Fail("\"healthy\" is neither true nor false");
            break;
        }
        case Key::id:
            bOk = String(v, strKey, f.id);
            break;
        case Key::time:
            bOk = String(v, strKey, f.time);
            break;
        case Key::hostname:
            bOk = String(v, strKey, f.hostname);
            break;
        case Key::paths: {
            json::array arr;
            if (type != json::json_type::array || v.get_array().get(arr)) {
                Fail("\"paths\" is not a list");
                return kFailed;
            }
            f.arrPaths.emplace();
            for (auto item : arr) {
                std::string_view s;
                json::json_type itemType;
                if (simdjson::error_code e = item.type().get(itemType))
                    return e;
                if (itemType != json::json_type::string || item.get_string().get(s)) {
                    Fail("\"paths\" holds something other than a path");
                    return kFailed;
                }
                f.arrPaths->emplace_back(s);
            }
            break;
        }
        }
        if (!bOk)
            return kFailed;
    }
    return simdjson::SUCCESS;
}

bool CListingReader::Impl::First(const LineFields& f) {
    if (f.kind == "snapshot") {
        format = Format::restic;
        info.tool = BackupTool::restic;
        if (f.id)
            info.strSnapshot = std::string(*f.id);
        if (f.hostname)
            info.strHost = std::string(*f.hostname);
        info.arrPaths = f.arrPaths;
        if (f.time) {
            ListingTime t;
            if (!ParseTime(*f.time, t) || !t.bOffset)
                return Fail("\"time\" is not a time with its offset from UTC");
            info.nTime = t.nFieldSeconds - t.nOffset;
        }
        return true;
    }
    if (f.kind == "node")
        return Fail("a node of restic ls --json, but not the snapshot line that begins its "
                    "listing: the start of the listing is missing");
    if (f.kind)
        return Fail("a line of restic of the type \"" + std::string(*f.kind) +
                    "\": tarrow-scan reads " + kWhatWeRead);
    if (f.type && f.mode && f.path) {
        format = Format::borg;
        info.tool = BackupTool::borg;
        return BorgItem(f);
    }
    return Fail(std::string("neither the snapshot line of restic ls --json nor an item of borg "
                            "list --json-lines: tarrow-scan reads ") +
                kWhatWeRead);
}

bool CListingReader::Impl::Modified(const LineFields& f, std::int64_t& nModified, bool& bUsable) {
    ListingTime t;
    if (!f.mtime)
        return Fail("a file without \"mtime\"");
    if (!ParseTime(*f.mtime, t) || (format == Format::restic && !t.bOffset))
        return Fail("\"mtime\" is not a time such as 2024-05-06T07:08:09" +
                    std::string(format == Format::restic ? "+02:00" : ""));
    // A time before 1601 has no local time: no found file is as old.
    bUsable = LocalSecondsOf(t, localTime, nModified);
    return true;
}

bool CListingReader::Impl::File(const std::string_view strFilePath, NameForm form,
                                const LineFields& f, std::optional<std::string_view> first) {
    ++info.nFiles;
    std::int64_t nModified = 0;
    bool bUsable = false;
    if (!Modified(f, nModified, bUsable))
        return false;
    // borg writes a file whose data it could not read whole as "healthy": false.
    if (!bUsable || f.bHealthy == false || (keep && !keep(strFilePath)))
        return true;
    bool bRoom;
    if (first) {
        const std::string strFirst = "/" + std::string(*first);
        arrLinks.push_back({CBackupIndex::Key(strFilePath, form), form,
                            CBackupIndex::Key(strFirst, BorgForm(strFirst)), nModified});
        bRoom = arrLinks.size() < std::numeric_limits<std::uint32_t>::max();
    } else {
        bRoom =
            index.Add(strFilePath, form, static_cast<std::int64_t>(f.nSize.value_or(0)), nModified);
    }
    return bRoom || Fail("more files than tarrow-scan can hold");
}

bool CListingReader::Impl::ResticNode(const LineFields& f) {
    if (f.kind == "snapshot")
        return Fail("a second snapshot: a listing holds one; give each with its own --backed-up");
    if (f.kind != "node")
        return Fail("not a node of restic ls --json");
    if (!f.type || !f.path)
        return Fail(std::string("a node without ") + (f.type ? "\"path\"" : "\"type\""));
    if (*f.type != "file")
        return true;
    return File(*f.path, f.bPathStandIns ? NameForm::replaced : NameForm::exact, f);
}

bool CListingReader::Impl::BorgItem(const LineFields& f) {
    if (f.kind)
        return Fail("a line of restic in a listing of borg");
    if (!f.type || !f.mode || !f.path)
        return Fail(std::string("an item without ") + (!f.type   ? "\"type\""
                                                       : !f.mode ? "a \"mode\" text"
                                                                 : "\"path\""));
    if (*f.type != "-")
        return true;
    // Paths are kept without their leading '/'.
    strPath.assign("/").append(*f.path);
    // A further name of a file with several (borg 1.x) has no size of its own: its
    // first name, met earlier in the listing, gives it.
    if (f.mode->starts_with("h")) {
        const std::optional<std::string_view>& first = f.source ? f.source : f.linktarget;
        if (!first || first->empty())
            return Fail("a hard link without the name it links to (\"source\")");
        return File(strPath, BorgForm(strPath), f, first);
    }
    return File(strPath, BorgForm(strPath), f);
}

namespace {

ListingResult Failed(std::string strWhy) {
    return {ListingStatus::failed, std::move(strWhy)};
}

std::string ErrnoText(int nErrno) {
    return std::strerror(nErrno);
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_nlink == b.st_nlink && a.st_mtim.tv_sec == b.st_mtim.tv_sec &&
           a.st_mtim.tv_nsec == b.st_mtim.tv_nsec && a.st_ctim.tv_sec == b.st_ctim.tv_sec &&
           a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

} // namespace

ListingResult ReadListingFile(const std::string& strFile, CBackupIndex& index,
                              const ListingPathFilter& keep, const ListingReadOptions& options) {
    CFileHandle owned;
    int fd = STDIN_FILENO;
    if (strFile == "-") {
        if (::isatty(STDIN_FILENO) == 1)
            return Failed("a terminal: pipe the listing in, or name its file");
    } else {
        // Not blocking, so that a named pipe nobody writes into cannot hold the program.
        owned.Reset(::open(strFile.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
        if (!owned.IsOpen())
            return Failed(ErrnoText(errno));
        fd = owned.Get();
    }
    if (owned.IsOpen() && ::isatty(fd) == 1)
        return Failed("a terminal, not a listing");
    struct stat before;
    if (::fstat(fd, &before) != 0)
        return Failed(ErrnoText(errno));
    if (S_ISDIR(before.st_mode))
        return Failed("a folder, not a listing");
    if (S_ISBLK(before.st_mode))
        return Failed("a block device, not a listing");
    const bool bRegular = S_ISREG(before.st_mode);
    // Standard input may have been read from before: what is left is the listing.
    const off_t nStart = bRegular ? std::max<off_t>(0, ::lseek(fd, 0, SEEK_CUR)) : 0;
    const bool bOwnPipe = owned.IsOpen() && S_ISFIFO(before.st_mode);

    CListingReader reader(index, strFile, keep, *options.pLocalTime);
    const auto start = std::chrono::steady_clock::now();
    bool bWriter = false; // a named pipe's writer has been seen
    off_t nRead = 0;
    for (;;) {
        if (options.stopped && options.stopped())
            return {ListingStatus::stopped, {}};
        if (!bRegular) {
            // A pipe is waited on in slices, so that a stop is heard.
            pollfd p{fd, POLLIN, 0};
            const int nReady = ::poll(&p, 1, 100);
            if (nReady < 0 && errno != EINTR)
                return Failed("cannot be read: " + ErrnoText(errno));
            if (nReady <= 0 && !bOwnPipe)
                continue;
        }
        const std::span<char> space = reader.Space();
        const ssize_t n = ::read(fd, space.data(), space.size());
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
            bWriter = bWriter || errno == EAGAIN; // a writer, with nothing written yet
            continue;
        }
        if (n < 0)
            return Failed("cannot be read: " + ErrnoText(errno));
        if (n == 0 && bOwnPipe && !bWriter) {
            // No writer: none has opened the pipe yet, or one has come and gone.
            pollfd p{fd, POLLIN, 0};
            const bool bGone = ::poll(&p, 1, 0) > 0 && (p.revents & POLLHUP);
            if (!bGone && std::chrono::steady_clock::now() - start <
                              std::chrono::milliseconds(options.nWriterWaitMilliseconds))
                continue;
            if (!bGone)
                return Failed("a named pipe that nobody writes into");
        }
        if (n == 0)
            break;
        bWriter = true;
        nRead += n;
        if (!reader.Commit(static_cast<std::size_t>(n)))
            return Failed(reader.Error());
    }
    // A file cut short, rewritten or removed as it was read would seem to hold less.
    if (bRegular) {
        struct stat after;
        if (::fstat(fd, &after) != 0 || !SameFile(before, after) ||
            nRead != before.st_size - nStart)
            return Failed("changed or went away while it was read: read it once it is written "
                          "whole (written beside its name and renamed over it, it never changes "
                          "under a reader)");
    }
    if (!reader.Finish())
        return Failed(reader.Error());
    return {};
}
