// The per-group list files written at the end of a scan: one full path per line,
// CR LF line ends, the path's bytes exactly as the file system gave them.
#pragma once

#include "FileProperty.h"
#include "SafeFile.h"

#include <string>
#include <string_view>

// The text of a list: folder and name of each record, in order.
template <class Records> std::string GroupListText(Records&& records) {
    std::string strText;
    for (const FileProperty& p : records) {
        strText += p.GetFolder();
        strText += p.GetFileName();
        strText += "\r\n";
    }
    return strText;
}

// The list file's name within the folder: the group name and ".log".
std::string GroupListFileName(const std::string& strGroup);

// Writes the group's list file into strFolder by the rules of SafeFile.h: the folder
// is never created here, has no link on its path and is the user's own and private;
// the file is rewritten in place only when it is a plain file of the user's, and
// otherwise replaced. The result says why a file was not written (a refused folder,
// a full disk) for the caller to report. An empty text (a group without files) touches
// nothing and is done: the group's list of an earlier scan stays as it was.
SafeFileResult WriteGroupListFile(const std::string& strFolder, const std::string& strGroup,
                                  std::string_view strText);
// The same into a folder already opened with OpenPrivateFolder.
SafeFileResult WriteGroupListFile(const CFileHandle& folder, const std::string& strGroup,
                                  std::string_view strText);
