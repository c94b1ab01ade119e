#include "BackupIndex.h"

#include "Utf8.h"

#include <algorithm>
#include <bit>
#include <functional>
#include <limits>

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD"; // U+FFFD

// A final mix, so that the top bits, which pick the bucket, depend on every input bit.
std::uint64_t Mix(std::uint64_t n) {
    n ^= n >> 30;
    n *= 0xBF58476D1CE4E5B9ull;
    n ^= n >> 27;
    n *= 0x94D049BB133111EBull;
    return n ^ (n >> 31);
}

bool IsValidUtf8(std::string_view str) {
    for (std::size_t i = 0; i < str.size();) {
        const std::size_t n = Utf8SequenceLength(str.substr(i));
        if (n == 0)
            return false;
        i += n;
    }
    return true;
}

// The path as a tool writes it that puts strStandIn for each byte that is not part of
// valid UTF-8: one stand-in a byte, as both Go and Python's surrogate escapes count.
std::string WithStandIns(std::string_view str, std::string_view strStandIn) {
    std::string s;
    s.reserve(str.size() + 8);
    for (std::size_t i = 0; i < str.size();) {
        const std::size_t n = Utf8SequenceLength(str.substr(i));
        if (n == 0) {
            s += strStandIn;
            ++i;
        } else {
            s.append(str.substr(i, n));
            i += n;
        }
    }
    return s;
}

} // namespace

std::uint64_t CBackupIndex::Key(std::string_view strPath, NameForm form) {
    return Mix(std::hash<std::string_view>()(strPath) +
               0x9E3779B97F4A7C15ull * static_cast<std::uint64_t>(form));
}

bool CBackupIndex::Add(std::string_view strPath, NameForm form, std::int64_t nSize,
                       std::int64_t nModified) {
    m_bForms[static_cast<std::size_t>(form)] = true;
    return AddKey(Key(strPath, form), nSize, nModified);
}

bool CBackupIndex::AddKey(std::uint64_t nKey, std::int64_t nSize, std::int64_t nModified) {
    // The buckets count entries in 32 bits.
    if (m_arrEntries.size() >= std::numeric_limits<std::uint32_t>::max())
        return false;
    m_arrEntries.push_back({nKey, nSize, nModified});
    return true;
}

bool CBackupIndex::AddHardLinks(std::size_t nFirst, std::vector<HardLink> arrLinks) {
    std::sort(arrLinks.begin(), arrLinks.end(), [](const HardLink& a, const HardLink& b) {
        return a.nFirstNameKey < b.nFirstNameKey;
    });
    std::vector<Entry> arrFound;
    for (std::size_t i = nFirst; i < m_arrEntries.size(); ++i) {
        const Entry& e = m_arrEntries[i];
        auto it = std::lower_bound(
            arrLinks.begin(), arrLinks.end(), e.nKey,
            [](const HardLink& link, std::uint64_t nKey) { return link.nFirstNameKey < nKey; });
        for (; it != arrLinks.end() && it->nFirstNameKey == e.nKey; ++it) {
            arrFound.push_back({it->nKey, e.nSize, it->nModified});
            m_bForms[static_cast<std::size_t>(it->form)] = true;
        }
    }
    for (const Entry& e : arrFound) {
        if (!AddKey(e.nKey, e.nSize, e.nModified))
            return false;
    }
    return true;
}

void CBackupIndex::Seal() {
    std::sort(m_arrEntries.begin(), m_arrEntries.end(),
              [](const Entry& a, const Entry& b) { return a.nKey < b.nKey; });
    // About one entry a bucket: a lookup reads two bucket bounds and an entry or two.
    const unsigned nBits = static_cast<unsigned>(std::bit_width(m_arrEntries.size() | 1)) - 1;
    m_nShift = 64 - nBits;
    const std::size_t nBuckets = std::size_t{1} << nBits;
    m_arrBuckets.assign(nBuckets + 1, 0);
    std::size_t i = 0;
    for (std::size_t b = 0; b < nBuckets; ++b) {
        m_arrBuckets[b] = static_cast<std::uint32_t>(i);
        while (i < m_arrEntries.size() && (nBits == 0 || m_arrEntries[i].nKey >> m_nShift == b))
            ++i;
    }
    m_arrBuckets[nBuckets] = static_cast<std::uint32_t>(m_arrEntries.size());
}

bool CBackupIndex::Match(std::uint64_t nKey, std::int64_t nSize, std::int64_t nModified) const {
    const std::size_t b = m_nShift >= 64 ? 0 : static_cast<std::size_t>(nKey >> m_nShift);
    for (std::uint32_t i = m_arrBuckets[b]; i < m_arrBuckets[b + 1]; ++i) {
        const Entry& e = m_arrEntries[i];
        if (e.nKey == nKey && e.nSize == nSize && e.nModified >= nModified)
            return true;
    }
    return false;
}

bool CBackupIndex::Holds(std::string_view strPath, std::int64_t nSize,
                         std::int64_t nModified) const {
    if (m_arrBuckets.empty())
        return false;
    if (Match(Key(strPath, NameForm::exact), nSize, nModified))
        return true;
    const bool bReplaced = m_bForms[static_cast<std::size_t>(NameForm::replaced)];
    const bool bQuestion = m_bForms[static_cast<std::size_t>(NameForm::question)];
    if (!bReplaced && !bQuestion)
        return false;
    const bool bInvalid = !IsValidUtf8(strPath);
    // A name written with U+FFFD for its odd bytes had some: a valid one came exactly.
    if (bReplaced && bInvalid &&
        Match(Key(WithStandIns(strPath, kReplacement), NameForm::replaced), nSize, nModified))
        return true;
    // A '?' may be the name's own or a stand-in: the listing cannot say which.
    return bQuestion && (bInvalid || strPath.find('?') != std::string_view::npos) &&
           Match(Key(WithStandIns(strPath, "?"), NameForm::question), nSize, nModified);
}

bool LocalSecondsOf(const COleDateTime& dt, std::int64_t& nSeconds) {
    SYSTEMTIME st;
    return dt.m_status == DateTimeStatus::valid && VariantTimeToSystemTime(dt.m_dt, st) &&
           SystemTimeToSeconds(st, nSeconds);
}

bool CNotBackedUp::Count(int nGroup, const FileProperty& prop) {
    std::int64_t nModified = 0;
    if (LocalSecondsOf(prop.m_dtModified, nModified) &&
        m_index.Holds(prop.m_strPath, prop.m_nSize, nModified))
        return true;
    m_store.Add(nGroup, prop);
    return false;
}
