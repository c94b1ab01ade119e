// ext2/3/4 volume enumerator: finds the files of a whole ext2/3/4 volume from its inode
// tables and folder blocks, read from the device behind its mount, without walking its
// folders, and reports them as the directory walk does. Where the table cannot be
// trusted it never guesses: an encrypted folder, a case-folded one where that changes
// which paths are left out, a damaged one, is walked instead; a volume with a feature
// the reader does not know, or whose table does not hold together, is walked whole.
//
// The table holds every folder's names, whatever their permissions: the drive worker
// chooses this enumerator only for a process that may read every folder anyway.
#pragma once

#include "FsEnum.h"
#include "SimpleEnum.h"
#include "platform/ExtVolume.h"
#include "platform/VolumeSource.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class CExtEnum : public IFsEnum {
public:
    // The volume is opened through the system's devices; stepped-back folders are
    // listed through the system's directory listing.
    CExtEnum();
    // Tests hand in their own volumes, listings and mount table.
    using ListerFactory = std::function<std::unique_ptr<IDirectoryLister>()>;
    CExtEnum(std::shared_ptr<const IVolumeOpener> pOpener, ListerFactory makeLister,
             std::string strMountInfo = kSystemMountInfo);
    ~CExtEnum() override;

    // The table stands for whole volumes only: any folder is walked.
    bool EnumeratePath(const std::string& strPath) override;
    // The whole volume mounted at the root: from its table, or walked. FALSE when a stop
    // ended the pass (nothing of the volume is then reported), TRUE otherwise.
    bool EnumerateDrive(const std::string& strRoot) override;

    // As CSimpleEnum's, for the files reported from the table and the folders walked.
    void ShareLinkedFiles(CLinkedFiles& links) { m_pLinks = &links; }
    void SetFolderNotRead(FolderNotReadHandler handler) { m_onFolderNotRead = std::move(handler); }
    void SetReadAhead(const ReadAheadOptions& options) { m_readAhead = options; }
    // Whether the volume's pending writes are flushed before its table is read (they
    // are unless a test says otherwise).
    void SetFlushFirst(bool bFlush) { m_bFlushFirst = bFlush; }

    // How the last drive was read: from its table (some folders perhaps walked), or
    // walked whole because the table could not be read.
    bool WasReadFromTable() const { return m_bFromTable; }
    bool SteppedBack() const { return m_bSteppedBack; }
    // The folders of the last drive that were walked rather than read from the table,
    // with the reason, in the order they were met.
    const std::vector<std::pair<std::string, ExtDoubt>>& GetWalkedFolders() const {
        return m_arrWalked;
    }
    // Bytes the table took at most during the last drive's pass.
    std::size_t GetPeakTableMemory() const { return m_nPeakMemory; }

private:
    // 0 with the tree read; ECANCELED on a stop; otherwise why the volume is walked.
    DWORD ReadVolume(const std::string& strRoot, std::string& strWhy);
    void ReportTree(const std::string& strRoot);
    bool Walk(const std::string& strPath, ExtDoubt doubt);
    bool ExclusionBelow(const std::string& strFolder) const;
    bool IsHidden(const std::string& strPath) const;
    CSimpleEnum& Walker();

    std::shared_ptr<const IVolumeOpener> m_pOpener;
    ListerFactory m_makeLister;
    std::string m_strMountInfo;
    CExtVolume m_volume;
    std::optional<CSimpleEnum> m_walker; // made for each drive when first needed
    CLinkedFiles m_ownLinks;
    CLinkedFiles* m_pLinks = &m_ownLinks;
    FolderNotReadHandler m_onFolderNotRead;
    ReadAheadOptions m_readAhead;
    bool m_bFlushFirst = true;
    bool m_bFromTable = false;
    bool m_bSteppedBack = false;
    bool m_bStopped = false;
    std::uint64_t m_nDevice = 0;
    std::vector<std::string> m_arrInnerMounts; // mounted since the scan's exclusions were made
    std::vector<std::pair<std::string, ExtDoubt>> m_arrWalked;
    std::size_t m_nPeakMemory = 0;
};
