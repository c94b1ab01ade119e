// A volume journal served from memory: record buffers built in the test, a table of
// file attributes, and scripted answers for the journal requests.
#pragma once

#include "ScanTestSupport.h"

#include "ScanControl.h"
#include "platform/LittleEndian.h"
#include "platform/VolumeJournal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace ntfs_test {

// Builds one enumeration answer: the next start reference, then records.
class CUsnBuffer {
public:
    explicit CUsnBuffer(std::uint64_t nNextStart) : m_bytes(8, 0) { Put64(0, nNextStart); }

    CUsnBuffer& Add(std::uint64_t nReference, std::uint64_t nParent, const std::u16string& strName,
                    bool bDirectory = false) {
        const std::size_t nLength =
            (UsnRecordV2::HeaderSize + strName.size() * 2 + 7) & ~std::size_t{7};
        const std::size_t nPos = m_bytes.size();
        m_bytes.resize(nPos + nLength, 0);
        Put32(nPos + UsnRecordV2::RecordLength, static_cast<std::uint32_t>(nLength));
        m_bytes[nPos + UsnRecordV2::MajorVersion] = 2;
        Put64(nPos + UsnRecordV2::FileReferenceNumber, nReference);
        Put64(nPos + UsnRecordV2::ParentFileReferenceNumber, nParent);
        Put32(nPos + UsnRecordV2::FileAttributes,
              bDirectory ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE);
        std::uint8_t* p = m_bytes.data() + nPos;
        WriteLe16(p + UsnRecordV2::FileNameLength, static_cast<std::uint16_t>(strName.size() * 2));
        WriteLe16(p + UsnRecordV2::FileNameOffset, UsnRecordV2::FileName);
        for (std::size_t i = 0; i < strName.size(); ++i)
            WriteLe16(p + UsnRecordV2::FileName + 2 * i, strName[i]);
        return *this;
    }
    CUsnBuffer& Dir(std::uint64_t nReference, std::uint64_t nParent,
                    const std::u16string& strName) {
        return Add(nReference, nParent, strName, true);
    }
    CUsnBuffer& Raw(std::vector<std::uint8_t> bytes) {
        m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
        return *this;
    }

    std::vector<std::uint8_t>& Bytes() { return m_bytes; }
    operator std::vector<std::uint8_t>() const { return m_bytes; }

    void Put32(std::size_t nPos, std::uint32_t n) { WriteLe32(m_bytes.data() + nPos, n); }
    void Put64(std::size_t nPos, std::uint64_t n) { WriteLe64(m_bytes.data() + nPos, n); }

private:
    std::vector<std::uint8_t> m_bytes;
};

class CFakeVolumeJournal final : public IVolumeJournal {
public:
    // Answers and observations, all open to the test.
    DWORD dwOpenError = 0;
    std::deque<DWORD> queryErrors; // answered in turn, then success
    DWORD dwQueryErrorForever = 0; // when set: answered after the list ran out
    DWORD dwRootOpenError = 0;
    DWORD dwRootReferenceError = 0;
    std::uint64_t nRootReference = 0;
    std::vector<std::vector<std::uint8_t>> buffers; // one per request, then the end
    DWORD dwEnumerateErrorAtEnd = ERROR_HANDLE_EOF;
    std::size_t nOverstateReturned = 0; // claims more bytes than it wrote
    std::map<std::string, FileAttributes> files;
    std::string strVolumeRoot = "/mnt/win";

    std::function<void(std::size_t nRequest)> onEnumerate;
    std::function<void(const std::string& strPath)> onAttributes;

    std::vector<std::string> calls;
    std::vector<std::uint64_t> starts;
    std::vector<std::uint64_t> kept;
    std::vector<std::string> attributeReads;
    std::vector<std::uint64_t> attributeReferences;
    CREATE_USN_JOURNAL_DATA created{};
    DELETE_USN_JOURNAL_DATA deleted{};
    bool bOpen = false;
    bool bRootOpen = false;

    DWORD Open(const std::string& strRoot) override {
        calls.push_back("Open " + strRoot);
        bOpen = dwOpenError == 0;
        return dwOpenError;
    }
    bool IsOpen() const override { return bOpen; }
    void Close() override {
        calls.push_back("Close");
        bOpen = false;
    }
    DWORD Query(USN_JOURNAL_DATA_V0& data) override {
        calls.push_back("Query");
        data.NextUsn = 0x4242;
        if (!queryErrors.empty()) {
            const DWORD dw = queryErrors.front();
            queryErrors.pop_front();
            return dw;
        }
        return dwQueryErrorForever;
    }
    DWORD Create(const CREATE_USN_JOURNAL_DATA& data) override {
        calls.push_back("Create");
        created = data;
        return 0;
    }
    DWORD DeleteAndWait(const DELETE_USN_JOURNAL_DATA& data) override {
        calls.push_back("DeleteAndWait");
        deleted = data;
        return 0;
    }
    DWORD OpenRootDirectory(const std::string& strRoot) override {
        calls.push_back("OpenRoot " + strRoot);
        bRootOpen = dwRootOpenError == 0;
        return dwRootOpenError;
    }
    DWORD GetRootFileReference(std::uint64_t& nReference) override {
        calls.push_back("GetRootReference");
        nReference = nRootReference;
        return dwRootReferenceError;
    }
    void CloseRootDirectory() override {
        calls.push_back("CloseRoot");
        bRootOpen = false;
    }
    DWORD Enumerate(const MFT_ENUM_DATA_V0& in, std::uint8_t* pBuffer, std::size_t nSize,
                    std::size_t& nReturned) override {
        const std::size_t nRequest = starts.size();
        starts.push_back(in.StartFileReferenceNumber);
        EXPECT_EQ(in.HighUsn, 0x4242);
        if (onEnumerate)
            onEnumerate(nRequest);
        if (nRequest >= buffers.size())
            return dwEnumerateErrorAtEnd;
        const auto& b = buffers[nRequest];
        nReturned = std::min(b.size(), nSize);
        std::copy(b.begin(), b.begin() + static_cast<long>(nReturned), pBuffer);
        nReturned += nOverstateReturned;
        return 0;
    }
    void KeepFile(std::uint64_t nReference) override { kept.push_back(nReference); }
    DWORD GetFileAttributes(std::uint64_t nReference, const std::string& strPath,
                            FileAttributes& attr) override {
        attributeReads.push_back(strPath);
        attributeReferences.push_back(nReference);
        if (onAttributes)
            onAttributes(strPath);
        auto it = files.find(strPath);
        if (it == files.end())
            return ENOENT;
        attr = it->second;
        return 0;
    }
    std::string GetVolumeRoot(const std::string&) override { return strVolumeRoot; }
};

inline FileAttributes RegularFile(std::int64_t nSize, std::time_t tModified = 1'600'000'000) {
    FileAttributes attr;
    attr.kind = EntryKind::File;
    attr.nSize = nSize;
    attr.mtime.tv_sec = tModified;
    return attr;
}

// The recording target with the events of a running scan, put back as an idle scan
// leaves them when it goes.
class CScanTarget : public CRecordingTarget {
public:
    CScanTarget() { SetScanRunning(); }
    ~CScanTarget() {
        g_hTargetWnd = HWND{};
        ForceEvent.Reset();
        ResumeEvent.Set();
        EnumFinished.Set();
    }
    std::vector<std::string> Paths() const {
        std::vector<std::string> v;
        for (const FoundFile& f : Found())
            v.push_back(f.prop.m_strPath);
        return v;
    }
};

} // namespace ntfs_test
