#include "ScanReport.h"

#include "SizeText.h"
#include "StringTable.h"
#include "Utf8.h"

#include <chrono>
#include <cstdio>
#include <iomanip>
#include <sstream>

CScanResults::CScanResults(bool bKeepFiles) : m_bKeepFiles(bKeepFiles) {
    for (int i = 0; i < kGroupCount; ++i)
        m_arrNames[i] = LoadString(g_groupTable[i].nNameId);
}

LRESULT CScanResults::OnMessage(UINT nMsg, WPARAM wParam, LPARAM lParam) {
    if (nMsg == WM_FILEFOUND) {
        const char* pszGroup = reinterpret_cast<const char*>(wParam);
        const auto* pProp = reinterpret_cast<const FileProperty*>(lParam);
        for (int i = 0; i < kGroupCount; ++i) {
            if (m_arrNames[i] == pszGroup) {
                m_nFiles[i].fetch_add(1, std::memory_order_relaxed);
                m_nBytes[i].Add(pProp->m_nSize);
                if (m_bKeepFiles)
                    m_arrRecords.push_back({i, *pProp});
                break;
            }
        }
    } else if (nMsg == WM_ENUMFINISH) {
        std::lock_guard lock(m_lock);
        m_bFinished = true;
        m_finished.notify_all();
    }
    return 0;
}

bool CScanResults::WaitFinished(int nMilliseconds) {
    std::unique_lock lock(m_lock);
    return m_finished.wait_for(lock, std::chrono::milliseconds(nMilliseconds),
                               [&] { return m_bFinished; });
}

std::int64_t CScanResults::TotalFiles() const {
    std::int64_t n = 0;
    for (int i = 0; i < kGroupCount; ++i)
        n += Files(i);
    return n;
}

ByteCount CScanResults::TotalBytes() const {
    ByteCount n = 0;
    for (int i = 0; i < kGroupCount; ++i)
        n += Bytes(i);
    return n;
}

namespace {

std::string Pad(const std::string& s, std::size_t nWidth, bool bRight) {
    if (s.size() >= nWidth)
        return s;
    std::string strFill(nWidth - s.size(), ' ');
    return bRight ? strFill + s : s + strFill;
}

} // namespace

std::string FormatTable(const CScanResults& results, bool bStopped) {
    struct Row {
        std::string strName, strFiles, strSize;
    };
    std::vector<Row> rows = {{"", "Files", "Size"}};
    for (int i = 0; i < kGroupCount; ++i)
        rows.push_back({results.GroupName(i), std::to_string(results.Files(i)),
                        FormatTotalSize(results.Bytes(i))});
    rows.push_back(
        {"Total", std::to_string(results.TotalFiles()), FormatTotalSize(results.TotalBytes())});

    std::size_t w0 = 0, w1 = 0, w2 = 0;
    for (const Row& r : rows) {
        w0 = std::max(w0, r.strName.size());
        w1 = std::max(w1, r.strFiles.size());
        w2 = std::max(w2, r.strSize.size());
    }
    std::string s;
    for (const Row& r : rows)
        s += Pad(r.strName, w0, false) + "  " + Pad(r.strFiles, w1, true) + "  " +
             Pad(r.strSize, w2, true) + "\n";
    if (bStopped)
        s += "Stopped before the end: these are the files found until then.\n";
    return s;
}

std::string FormatProgress(const CScanResults& results, std::size_t nWidth) {
    std::string s;
    for (int i = 0; i < kGroupCount; ++i)
        s += results.GroupName(i) + " " + std::to_string(results.Files(i)) + " (" +
             FormatTotalSize(results.Bytes(i)) + ")  ";
    s += "Total " + std::to_string(results.TotalFiles()) + " (" +
         FormatTotalSize(results.TotalBytes()) + ")";
    if (nWidth > 0 && s.size() > nWidth)
        s.resize(nWidth);
    return s;
}

std::string JsonString(const std::string& strBytes) {
    std::string s = "\"";
    const auto* p = reinterpret_cast<const unsigned char*>(strBytes.data());
    const std::size_t n = strBytes.size();
    char buf[8];
    for (std::size_t i = 0; i < n;) {
        unsigned char c = p[i];
        if (c < 0x80) {
            if (c == '"' || c == '\\') {
                s += '\\';
                s += static_cast<char>(c);
            } else if (c < 0x20) {
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                s += buf;
            } else {
                s += static_cast<char>(c);
            }
            ++i;
            continue;
        }
        const std::size_t len = Utf8SequenceLength(std::string_view(strBytes).substr(i));
        if (len > 0) {
            s.append(strBytes, i, len);
            i += len;
        } else {
            std::snprintf(buf, sizeof buf, "\\udc%02x", c);
            s += buf;
            ++i;
        }
    }
    return s + "\"";
}

std::string IsoDate(const COleDateTime& dt) {
    SYSTEMTIME st;
    if (dt.m_status != DateTimeStatus::valid || !VariantTimeToSystemTime(dt.m_dt, st))
        return {};
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04u-%02u-%02uT%02u:%02u:%02u", st.wYear, st.wMonth, st.wDay,
                  st.wHour, st.wMinute, st.wSecond);
    return buf;
}

std::string FormatJson(const CScanResults& results, const std::vector<DriveReport>& arrDrives,
                       bool bStopped, double elapsedSeconds, bool bFiles) {
    std::ostringstream out;
    out.imbue(std::locale::classic());
    out << "{\n  \"groups\": [";
    for (int i = 0; i < kGroupCount; ++i) {
        out << (i ? ",\n" : "\n") << "    {\"name\": " << JsonString(results.GroupName(i))
            << ", \"files\": " << results.Files(i)
            << ", \"bytes\": " << ByteCountText(results.Bytes(i)) << "}";
    }
    out << "\n  ],\n  \"total\": {\"files\": " << results.TotalFiles()
        << ", \"bytes\": " << ByteCountText(results.TotalBytes()) << "},\n  \"drives\": [";
    for (std::size_t i = 0; i < arrDrives.size(); ++i) {
        const DriveReport& d = arrDrives[i];
        out << (i ? ",\n" : "\n") << "    {\"root\": " << JsonString(d.strRoot)
            << ", \"fileSystem\": "
            << (d.strFileSystem.empty() ? "null" : JsonString(d.strFileSystem))
            << ", \"enumerator\": "
            << (d.strEnumerator.empty() ? "null" : JsonString(d.strEnumerator)) << "}";
    }
    out << (arrDrives.empty() ? "" : "\n  ")
        << "],\n  \"stopped\": " << (bStopped ? "true" : "false")
        << ",\n  \"elapsedSeconds\": " << std::fixed << std::setprecision(3) << elapsedSeconds;
    if (bFiles) {
        out << ",\n  \"files\": [";
        bool bFirst = true;
        for (const FoundRecord& r : results.Records()) {
            std::string strDate = IsoDate(r.prop.m_dtModified);
            out << (bFirst ? "\n" : ",\n")
                << "    {\"group\": " << JsonString(results.GroupName(r.nGroup))
                << ", \"size\": " << r.prop.m_nSize
                << ", \"modified\": " << (strDate.empty() ? "null" : "\"" + strDate + "\"")
                << ", \"path\": " << JsonString(r.prop.m_strPath) << "}";
            bFirst = false;
        }
        out << (bFirst ? "" : "\n  ") << "]";
    }
    out << "\n}\n";
    return out.str();
}
