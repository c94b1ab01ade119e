// The program's files in a folder of the user's temporary folder, where other users
// of the machine may be at work: the diagnostic log and the per-group list files.
//
// The folder is reached one component at a time. The folder itself is never a
// symbolic link (no trailing '/' or "/." can cancel that); a link above it is followed
// as any program follows it only where no one but root or the user could have made it:
// the link is theirs and lies in a folder of theirs that nobody else may write in (a
// link in a sticky /tmp is not followed). The folder is used only when it is the
// user's own and private: owned by the effective user, writable by no one else. A file in it is
// opened without following a link and without blocking (a pipe at its name cannot
// hold the program), and is written in place only when it is a regular file of the
// user's with one link: a hard link would carry the writing to a file elsewhere.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include <sys/stat.h>

// An owned file descriptor, closed when it goes.
class CFileHandle {
public:
    CFileHandle() = default;
    explicit CFileHandle(int fd) : m_fd(fd) {}
    ~CFileHandle() { Reset(); }
    CFileHandle(CFileHandle&& other) noexcept : m_fd(other.Release()) {}
    CFileHandle& operator=(CFileHandle&& other) noexcept;
    CFileHandle(const CFileHandle&) = delete;
    CFileHandle& operator=(const CFileHandle&) = delete;

    int Get() const { return m_fd; }
    bool IsOpen() const { return m_fd >= 0; }
    int Release();
    void Reset(int fd = -1);
    // Closes the file and answers the errno value of a failed close (0: none): on
    // some file systems the last of the data is refused only then.
    int Close();

private:
    int m_fd = -1;
};

enum class SafeFileStatus : std::uint8_t {
    done,
    systemError,      // a system call failed; m_nErrno says why
    linkInPath,       // the folder, or a step above it, is a link that is not followed
    folderNotOwn,     // the folder belongs to another user
    folderNotPrivate, // other users may write in the folder
    notPlainFile,     // the name holds something other than a regular file of the user's
                      // with one link
};

// What became of a folder or file: done, or why not, for the caller to say.
struct SafeFileResult {
    SafeFileStatus m_status = SafeFileStatus::done;
    int m_nErrno = 0; // with systemError

    static SafeFileResult FromErrno(int nErrno) { return {SafeFileStatus::systemError, nErrno}; }
    explicit operator bool() const { return m_status == SafeFileStatus::done; }
    // A phrase for a message: "the folder belongs to another user", or the system's
    // text of the error ("No space left on device").
    std::string GetText() const;
};

// A file that may be written in place: regular, the user's own, with one link.
bool IsOwnPlainFile(const struct stat& st);

// Opens the folder strPath (absolute, or relative to the working folder). With
// bCreate, missing folders of the path are created private (0700). The folder must
// be the user's own and private; a link above it only one that root or the user made.
SafeFileResult OpenPrivateFolder(std::string_view strPath, bool bCreate, CFileHandle& folder);

// Opens the folder strPath as OpenPrivateFolder does, by the same rule for links, but
// whoever it belongs to: for a folder shared on purpose, such as a collector's.
SafeFileResult OpenFolder(std::string_view strPath, CFileHandle& folder);

// Opens file strName of the folder for appending, creating it private (0600) when it
// is missing. Anything else than a plain file of the user's at the name is refused.
SafeFileResult OpenFileForAppend(const CFileHandle& folder, const std::string& strName,
                                 CFileHandle& file);

// Makes strText the whole content of file strName of the folder: in place when the
// name holds a plain file of the user's, or nothing; otherwise a new file is written
// beside it and renamed over the name, so that a link, a pipe or another user's file
// is replaced, never written through (a folder at the name is refused). A write cut
// short, by a full disk for one, is reported and leaves no file at the name.
SafeFileResult WriteWholeFile(const CFileHandle& folder, const std::string& strName,
                              std::string_view strText);

// Takes the name strName out of the folder, whatever it holds but a folder: a link is
// removed itself, never followed. A name that holds nothing is done.
SafeFileResult RemoveFile(const CFileHandle& folder, const std::string& strName);

// Whether ReplaceWholeFile may write strName of the folder: it holds nothing, or a plain
// file of the user's with one link. Anything else (a link, a pipe, a device, a folder,
// a second name of another file, another user's file) is refused as notPlainFile.
SafeFileResult CheckReplaceable(const CFileHandle& folder, const std::string& strName);

// Makes strText the whole content of file strName of the folder, always through a new
// file (permissions nMode) written beside it and renamed over the name: a reader of the
// name sees the old content or the new, never a part. Only what CheckReplaceable allows
// is replaced, as the name stands just before the rename; anything else is refused.
SafeFileResult ReplaceWholeFile(const CFileHandle& folder, const std::string& strName,
                                std::string_view strText, mode_t nMode);

// Writes all of strText to fd, going on after short writes and interruptions.
// Answers 0, or the errno value of the write that failed.
int WriteAll(int fd, std::string_view strText);
