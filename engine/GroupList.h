// The per-group list files written at the end of a scan: one full path per line,
// CR LF line ends, the path's bytes exactly as the file system gave them.
#pragma once

#include "ScanControl.h"

#include <string>

// The text of a list: folder and name of each record, in order.
template <class Records>
std::string GroupListText(const Records& records) {
    std::string strText;
    for (const FileProperty& p : records) {
        strText += p.GetFolder();
        strText += p.GetFileName();
        strText += "\r\n";
    }
    return strText;
}

// Writes strFolder/strGroup.log. The folder is never created here, and it must be a
// real folder of this user's (it sits in a temporary folder others can write to); the
// file is created private and never through a symbolic link. Nothing is written for
// an empty text.
bool WriteGroupListFile(const std::string& strFolder, const std::string& strGroup,
                        const std::string& strText);
