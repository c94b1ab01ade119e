// The folders named on tarrow-scan's command line: scanned even where every scan
// leaves them out, and an error when they cannot be read.
#pragma once

#include "EnumMgr.h"
#include "Environment.h"
#include "Log.h"
#include "ModulePath.h"
#include "ScanControl.h"

#include <cstdint>
#include <cstring>
#include <iostream>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

// Folders given to the scan that are themselves among the folders every scan leaves
// out (/usr, the temporary folder, a trash) are scanned: the user asked for them.
class CAskedFolders final : public IKnownFolders {
public:
    CAskedFolders(std::shared_ptr<const IKnownFolders> pKnown, std::vector<std::string> arrAsked)
        : m_pKnown(std::move(pKnown)), m_setAsked(arrAsked.begin(), arrAsked.end()) {}

    KnownFolderSet Get() const override {
        KnownFolderSet s = m_pKnown->Get();
        for (auto* pList : {&s.arrSystem, &s.arrPrograms, &s.arrProgramData, &s.arrInternetCache,
                            &s.arrTemporary, &s.arrHomeTrash}) {
            std::erase_if(*pList, [&](const std::string& str) { return IsAsked(str); });
        }
        if (IsAsked(s.strUserTrash))
            s.strUserTrash.clear();
        return s;
    }
    std::string LongPathName(const std::string& strPath) const override {
        return m_pKnown->LongPathName(strPath);
    }

private:
    bool IsAsked(const std::string& strFolder) const {
        return m_setAsked.count(strFolder) || m_setAsked.count(m_pKnown->LongPathName(strFolder));
    }

    std::shared_ptr<const IKnownFolders> m_pKnown;
    std::set<std::string> m_setAsked;
};

// What the scan could not read. Told on the scan's threads.
class CNotRead {
public:
    explicit CNotRead(const std::vector<std::string>& arrAsked)
        : m_setAsked(arrAsked.begin(), arrAsked.end()) {}

    void FolderNotRead(const std::string& strFolder, DWORD dwError) {
        // The list that the message on standard error points to (--debug).
        TLOG_DEBUG("TarrowScan.cpp", 375)
            << "Cannot read folder " << strFolder << ": " << GetErrorText(dwError);
        std::lock_guard lock(m_lock);
        if (m_setAsked.count(strFolder))
            m_arrErrors.push_back("cannot read folder '" + strFolder + "': " + Text(dwError));
        else
            ++m_nFolders;
    }
    void DriveNotScanned(const std::string& strRoot, DWORD dwError) {
        std::lock_guard lock(m_lock);
        m_arrErrors.push_back("'" + strRoot + "' was not scanned: " + Text(dwError));
    }

    // Said on stderr once the scan has ended; false when something asked for is missing.
    bool Report(bool bDebug) const {
        std::lock_guard lock(m_lock);
        for (const std::string& s : m_arrErrors)
            std::cerr << "tarrow-scan: " << s << "\n";
        if (m_nFolders > 0) {
            std::cerr << "tarrow-scan: " << m_nFolders << (m_nFolders == 1 ? " folder" : " folders")
                      << " could not be read; the files in them are not counted ("
                      << (bDebug ? "listed in " + GetLogFolder() + GetModuleFileName() + ".log"
                                 : "--debug lists them in the log")
                      << ")\n";
        }
        return m_arrErrors.empty();
    }

private:
    static std::string Text(DWORD dwError) { return std::strerror(static_cast<int>(dwError)); }

    const std::set<std::string> m_setAsked;
    mutable std::mutex m_lock;
    std::vector<std::string> m_arrErrors;
    std::int64_t m_nFolders = 0;
};
