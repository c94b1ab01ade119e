// The rolling set of log files and the private folder that holds it.
//
// The folder usually sits in a temporary folder that other users of the machine
// can write to. Every file of the set is reached through a handle of the checked
// folder, by the rules of SafeFile.h; a link, a file of another user or anything
// that is not a plain file is never written, emptied or deleted.
#pragma once

#include "SafeFile.h"

#include <cstdint>
#include <string>
#include <string_view>

// Files P, P.2, P.3 ... of base path P. Writing goes to the current file; once it
// has grown past the maximum size the next file of the set is opened, emptied
// when it is over the size, so an entry is never split.
class CRollingFile {
public:
    CRollingFile() = default;
    CRollingFile(const CRollingFile&) = delete;
    CRollingFile& operator=(const CRollingFile&) = delete;

    // strFolder must be a private folder of the user's, with no link on its path;
    // strName a file name in it. Checks every file of the set, deletes those that exist when
    // bEraseAtStart, picks the first file below the maximum size (else the first) and opens it.
    // FALSE, with nothing changed on disk, when the folder or a file of the set
    // may not be used. A file that merely fails to open loses its entries.
    bool Open(const std::string& strFolder, const std::string& strName, std::int64_t nMaxSize,
              int nFileCount, bool bEraseAtStart);

    // Appends the text to the current file at once, then rolls when the file has
    // grown past the maximum size. A failed write loses the text and does not roll;
    // the result says why (a full disk, a current file that could not be opened).
    SafeFileResult Write(std::string_view strText);

    int GetCurrentIndex() const { return m_nIndex; }
    bool IsFileOpen() const { return m_file.IsOpen(); }
    // Name within the folder of file nIndex: the base name, then ".2", ".3" ...
    std::string GetFileName(int nIndex) const;

private:
    void OpenCurrent();

    CFileHandle m_folder;
    CFileHandle m_file;
    SafeFileResult m_opened; // why m_file is not open
    std::string m_strName;
    std::int64_t m_nMaxSize = 0;
    int m_nFileCount = 1;
    int m_nIndex = 0;
};
