// NTFS volume enumerator: finds the files of one NTFS volume from its file records,
// without walking its folders, and reports them exactly as the directory walk does.
#pragma once

#include "FsEnum.h"
#include "platform/VolumeJournal.h"

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

class CMftEnum : public IFsEnum {
public:
    // The volume is read through the system's journal source.
    CMftEnum();
    // Tests and tools hand in their own journal.
    explicit CMftEnum(std::unique_ptr<IVolumeJournal> pJournal);
    ~CMftEnum() override;

    // FALSE for an empty path; otherwise the whole volume that holds the path.
    bool EnumeratePath(const std::string& strPath) override;
    // The pass over the volume's records, then the report of the kept files. FALSE when
    // a stop ended the pass or the journal could not be queried, TRUE otherwise.
    bool EnumerateDrive(const std::string& strRoot) override;

    // Closes the volume and empties the tables.
    void Reset();
    // FALSE, and nothing changes, when the reference is already stored.
    bool AddDirectory(std::uint64_t nReference, const std::string& strName, std::uint64_t nParent);
    // The full path of a stored directory; FALSE when its chain of parents breaks.
    bool BuildDirectoryPath(std::uint64_t nReference, std::string& strPath) const;

    std::size_t GetDirectoryCount() const { return m_arrDirNames.size(); }
    std::size_t GetKeptFileCount() const { return m_arrFileNames.size(); }

private:
    // FALSE with the error code when the volume cannot be opened.
    bool OpenVolume(const std::string& strRoot, DWORD& dwError);
    void CreateJournal();
    void WaitForJournalDeletion();
    // Walks one buffer of records; false when a stop was requested.
    bool WalkRecords(const std::uint8_t* pBuffer, std::size_t nReturned);
    void ReportFiles();

    std::unique_ptr<IVolumeJournal> m_pJournal; // the open volume, when IsOpen()

    std::vector<std::string> m_arrDirNames;
    std::vector<std::uint64_t> m_arrDirParents;
    std::unordered_map<std::uint64_t, int> m_mapDirIndex;

    std::vector<std::string> m_arrFileNames;
    std::vector<std::uint64_t> m_arrFileParents;
    std::vector<std::string> m_arrFileGroups;
    std::vector<std::uint64_t> m_arrFileReferences;

    mutable std::vector<int> m_arrChain; // scratch of BuildDirectoryPath
};
