// Input: the root's reference (8 bytes), then the journal's answers, each a 2-byte
// length and that many bytes; a length with the top bit set also claims more bytes
// than it wrote. Every rebuilt path reads as a regular file.
#include "Log.h"
#include "MftEnum.h"
#include "ScanControl.h"
#include "platform/LittleEndian.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {

class CFuzzJournal final : public IVolumeJournal {
public:
    CFuzzJournal(const std::uint8_t* p, std::size_t n) : m_p(p), m_n(n) {}

    DWORD Open(const std::string&) override {
        m_bOpen = true;
        return 0;
    }
    bool IsOpen() const override { return m_bOpen; }
    void Close() override { m_bOpen = false; }
    DWORD Query(USN_JOURNAL_DATA_V0& data) override {
        data = {};
        return 0;
    }
    DWORD Create(const CREATE_USN_JOURNAL_DATA&) override { return 0; }
    DWORD DeleteAndWait(const DELETE_USN_JOURNAL_DATA&) override { return 0; }
    DWORD OpenRootDirectory(const std::string&) override { return 0; }
    DWORD GetRootFileReference(std::uint64_t& nReference) override {
        nReference = 0;
        if (m_n >= 8) {
            nReference = ReadLe64(m_p);
            m_nPos = 8;
        }
        return 0;
    }
    void CloseRootDirectory() override {}
    DWORD Enumerate(const MFT_ENUM_DATA_V0&, std::uint8_t* pBuffer, std::size_t nSize,
                    std::size_t& nReturned) override {
        if (m_n - m_nPos < 2)
            return ERROR_HANDLE_EOF;
        const std::size_t nDeclared = m_p[m_nPos] | (m_p[m_nPos + 1] & 0x7F) << 8;
        const bool bOverstate = (m_p[m_nPos + 1] & 0x80) != 0;
        m_nPos += 2;
        const std::size_t nCopy = std::min({nDeclared, m_n - m_nPos, nSize});
        std::memcpy(pBuffer, m_p + m_nPos, nCopy);
        m_nPos += nCopy;
        nReturned = bOverstate ? nCopy + 70000 : nCopy;
        return 0;
    }
    void KeepFile(std::uint64_t) override {}
    DWORD GetFileAttributes(std::uint64_t, const std::string& strPath,
                            FileAttributes& attr) override {
        attr.kind = EntryKind::File;
        attr.nSize = static_cast<std::int64_t>(strPath.size());
        return 0;
    }
    std::string GetVolumeRoot(const std::string& strPath) override { return strPath; }

private:
    const std::uint8_t* m_p;
    std::size_t m_n;
    std::size_t m_nPos = 0;
    bool m_bOpen = false;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize) {
    static const bool bReady = [] {
        ResumeEvent.Set(); // the scan runs; with no target window nothing is sent
        return true;
    }();
    (void)bReady;
    CMftEnum mft(std::make_unique<CFuzzJournal>(pData, nSize));
    mft.AddGroup("Documents", "*.docx; *.pdf");
    mft.AddGroup("Everything", "*"); // every file is kept, so the report runs for all
    mft.AddExclusion("/mnt/fuzz/excluded");
    mft.EnumerateDrive("/mnt/fuzz");
    TakePendingLogRecords(); // an unconfigured log keeps every statement
    return 0;
}
