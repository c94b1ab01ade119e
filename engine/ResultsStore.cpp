#include "ResultsStore.h"

#include "StringTable.h"

namespace {

std::array<std::string, kGroupCount> LoadGroupNames() {
    std::array<std::string, kGroupCount> arrNames;
    for (int i = 0; i < kGroupCount; ++i)
        arrNames[i] = LoadString(g_groupTable[i].nNameId);
    return arrNames;
}

} // namespace

CResultsStore::CResultsStore(bool bKeepRecords)
    : m_arrGroupNames(LoadGroupNames()), m_bKeepRecords(bKeepRecords) {}

int CResultsStore::GroupOf(std::string_view strName) const {
    for (int i = 0; i < kGroupCount; ++i) {
        if (strName == m_arrGroupNames[i])
            return i;
    }
    return kNoGroup;
}

int CResultsStore::Add(std::string_view strName, const FileProperty& prop) {
    const int nGroup = GroupOf(strName);
    if (nGroup != kNoGroup) {
        Add(nGroup, prop);
        return nGroup;
    }
    if (m_bKeepRecords) {
        auto it = m_mapOtherNames.find(strName);
        if (it == m_mapOtherNames.end())
            it = m_mapOtherNames.emplace(strName, std::make_unique<CFileList>()).first;
        it->second->push_back(prop);
    }
    m_nRecords.fetch_add(1, std::memory_order_release);
    return kNoGroup;
}

void CResultsStore::Add(int nGroup, const FileProperty& prop) {
    if (m_bKeepRecords)
        m_mapResults[nGroup].push_back(prop);
    // Readers take the count first, so its bytes are in.
    m_nGroupBytes[nGroup].Add(prop.m_nSize);
    m_nGroupFiles[nGroup].fetch_add(1, std::memory_order_release);
    m_nRecords.fetch_add(1, std::memory_order_release);
}

void CResultsStore::Clear() {
    for (int i = 0; i < kGroupCount; ++i) {
        m_nGroupFiles[i] = 0;
        m_nGroupBytes[i].Reset();
        m_mapResults[i].clear();
    }
    m_nRecords = 0;
    m_mapOtherNames.clear();
}

CFileList* CResultsStore::FindList(std::string_view strName) {
    if (const int nGroup = GroupOf(strName); nGroup != kNoGroup)
        return m_mapResults[nGroup].empty() ? nullptr : &m_mapResults[nGroup];
    const auto it = m_mapOtherNames.find(strName);
    return it == m_mapOtherNames.end() ? nullptr : it->second.get();
}

const CFileList* CResultsStore::GroupList(int nGroup) const {
    return m_mapResults[nGroup].empty() ? nullptr : &m_mapResults[nGroup];
}

std::int64_t CResultsStore::GetTotalFiles() const {
    std::int64_t n = 0;
    for (int i = 0; i < kGroupCount; ++i)
        n += GetGroupFiles(i);
    return n;
}

ByteCount CResultsStore::GetTotalBytes() const {
    ByteCount n = 0;
    for (int i = 0; i < kGroupCount; ++i)
        n += GetGroupBytes(i);
    return n;
}
