// The files a scan found: a count and a byte total per group, and, when asked for, a copy
// of every record. The window and tarrow-scan both keep their results here.
#pragma once

#include "ByteTotal.h"
#include "FileProperty.h"
#include "GroupTable.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

class CResultsStore {
public:
    // What the found-file message's name answers when it names none of the four groups.
    static constexpr int kNoGroup = -1;

    // bKeepRecords: a copy of every record is kept; otherwise only counted.
    explicit CResultsStore(bool bKeepRecords = true);

    // The group of a name as the found-file message carries it: exact, letter case and
    // all; kNoGroup for another name.
    int GroupOf(std::string_view strName) const;
    const std::string& GroupName(int nGroup) const { return m_arrGroupNames[nGroup]; }

    // Writers, one at a time (the owner's lock): counts the record in its group and keeps
    // a copy. A record under another name is kept under that name and counted nowhere.
    // Returns the record's group, or kNoGroup.
    int Add(std::string_view strName, const FileProperty& prop);
    // Counts one record of nGroup (0 to 3), keeping a copy when the store keeps records.
    void Add(int nGroup, const FileProperty& prop);
    void Clear();

    // Read under the writers' lock while a scan runs. The list of a group or of another
    // name; null while it has no record. A stored record never moves.
    CFileList* FindList(std::string_view strName);
    const CFileList* GroupList(int nGroup) const;

    // From any thread, without the lock: a count is read before the bytes it holds.
    std::int64_t GetGroupFiles(int nGroup) const {
        return m_nGroupFiles[nGroup].load(std::memory_order_acquire);
    }
    // Sums never wrap (ByteTotal.h).
    ByteCount GetGroupBytes(int nGroup) const { return m_nGroupBytes[nGroup].Load(); }
    std::int64_t GetTotalFiles() const;
    ByteCount GetTotalBytes() const;
    // Every record added, counted in a group or not.
    std::int64_t GetRecordCount() const { return m_nRecords.load(std::memory_order_acquire); }

private:
    struct CNameHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view str) const noexcept {
            return std::hash<std::string_view>{}(str);
        }
    };

    const std::array<std::string, kGroupCount> m_arrGroupNames;
    const bool m_bKeepRecords;
    // The lists, by group index; those of other names by name.
    std::array<CFileList, kGroupCount> m_mapResults;
    std::unordered_map<std::string, std::unique_ptr<CFileList>, CNameHash, std::equal_to<>>
        m_mapOtherNames;
    std::array<std::atomic<std::int64_t>, kGroupCount> m_nGroupFiles{};
    std::array<CByteCounter, kGroupCount> m_nGroupBytes; // never wrap: sparse files
    std::atomic<std::int64_t> m_nRecords{0};
};
