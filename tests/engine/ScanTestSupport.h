// Shared pieces of the engine tests: a target window that records what it is sent,
// scan events in a known state, and temporary folder trees.
#pragma once

#include "ScanControl.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct FoundFile {
    std::string strGroup;
    FileProperty prop;
};

// Records every found-file message, on the sending thread.
class CRecordingTarget {
public:
    CRecordingTarget()
        : m_window([this](UINT nMsg, WPARAM wParam, LPARAM lParam) -> LRESULT {
              if (nMsg == WM_FILEFOUND) {
                  std::lock_guard lock(m_lock);
                  m_found.push_back({reinterpret_cast<const char*>(wParam),
                                     *reinterpret_cast<const FileProperty*>(lParam)});
                  if (m_onFound)
                      m_onFound(m_found.back());
              } else if (nMsg == WM_ENUMFINISH) {
                  std::lock_guard lock(m_lock);
                  ++m_nFinished;
              }
              return 0;
          }) {
        g_hTargetWnd = m_window.GetSafeHwnd();
    }

    std::vector<FoundFile> Found() const {
        std::lock_guard lock(m_lock);
        return m_found;
    }
    int Finished() const {
        std::lock_guard lock(m_lock);
        return m_nFinished;
    }
    // Called under the recorder's lock, on the sending thread.
    void OnFound(std::function<void(const FoundFile&)> f) { m_onFound = std::move(f); }
    HWND Hwnd() const { return m_window.GetSafeHwnd(); }

private:
    mutable std::mutex m_lock;
    std::vector<FoundFile> m_found;
    int m_nFinished = 0;
    std::function<void(const FoundFile&)> m_onFound;
    CDirectWindow m_window;
};

// A scan in progress as the manager leaves it after the release.
inline void SetScanRunning() {
    ForceEvent.Reset();
    EnumFinished.Reset();
    ResumeEvent.Set();
}

inline void SetScanIdle() {
    ResumeEvent.Reset();
    ForceEvent.Reset();
    EnumFinished.Set();
}

// A temporary folder removed with everything below it.
class CTempTree {
public:
    CTempTree() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "tarrow-test-XXXXXX").string();
        m_root = ::mkdtemp(tmpl.data());
    }
    ~CTempTree() {
        std::error_code ec;
        std::filesystem::remove_all(m_root, ec);
    }
    CTempTree(const CTempTree&) = delete;
    CTempTree& operator=(const CTempTree&) = delete;

    const std::string& Root() const { return m_root; }
    std::string Path(const std::string& strRelative) const { return m_root + "/" + strRelative; }
    // Creates a file with the given size (sparse) and all folders above it.
    std::string File(const std::string& strRelative, std::int64_t nSize = 0) const;
    std::string Folder(const std::string& strRelative) const;

private:
    std::string m_root;
};

// India's time, +05:30 all year, as a POSIX rule: no time-zone database needed. Its
// half hour shows a date taken in the wrong zone, or shifted the wrong way.
inline constexpr const char* kIndiaTimeZone = "IST-5:30";

// The process's time zone for one test; the old one is back afterwards.
class CTimeZone {
public:
    explicit CTimeZone(const char* pszZone);
    ~CTimeZone();
    CTimeZone(const CTimeZone&) = delete;
    CTimeZone& operator=(const CTimeZone&) = delete;

private:
    std::optional<std::string> m_old;
};

// A chain of nLevels folders named "d" below the root, each holding one file "f.doc"
// of one byte, as is the root: nLevels + 1 files. Built and taken down through
// descriptors, so that its depth is not bounded by the length of a path.
void MakeDeepTree(const std::string& strRoot, int nLevels);
void RemoveDeepTree(const std::string& strRoot, int nLevels);

// Lowers this process's soft limit of open descriptors for its lifetime.
class CDescriptorLimit {
public:
    explicit CDescriptorLimit(unsigned long nLimit);
    ~CDescriptorLimit();
    CDescriptorLimit(const CDescriptorLimit&) = delete;
    CDescriptorLimit& operator=(const CDescriptorLimit&) = delete;

private:
    unsigned long m_nSaved;
};

// The limit under which exactly nSpare more descriptors can be opened.
unsigned long DescriptorLimitLeaving(int nSpare);

// Descriptors this process has open now.
int OpenDescriptorCount();

// The four groups of the program, added to an enumerator in table order.
void AddProgramGroups(struct IFsEnum& e);
