// The table and the progress line: what the main window shows, as text.
#include "ScanReport.h"

#include "SizeText.h"

#include <algorithm>

namespace {

std::string Pad(const std::string& s, std::size_t nWidth, bool bRight) {
    if (s.size() >= nWidth)
        return s;
    std::string strFill(nWidth - s.size(), ' ');
    return bRight ? strFill + s : s + strFill;
}

} // namespace

std::string FormatTable(const CScanResults& results, bool bStopped) {
    const CNotBackedUp* pNot = results.NotBackedUp();
    struct Row {
        std::string strName, strFiles, strSize, strNotFiles, strNotSize;
    };
    std::vector<Row> rows = {{"", "Files", "Size", "", ""}};
    for (int i = 0; i < kGroupCount; ++i)
        rows.push_back({results.GroupName(i), std::to_string(results.Files(i)),
                        FormatTotalSize(results.Bytes(i)),
                        pNot ? std::to_string(pNot->Files(i)) : "",
                        pNot ? FormatTotalSize(pNot->Bytes(i)) : ""});
    rows.push_back({"Total", std::to_string(results.TotalFiles()),
                    FormatTotalSize(results.TotalBytes()),
                    pNot ? std::to_string(pNot->TotalFiles()) : "",
                    pNot ? FormatTotalSize(pNot->TotalBytes()) : ""});

    std::size_t w0 = 0, w1 = 0, w2 = 0, w3 = 0, w4 = 0;
    for (const Row& r : rows) {
        w0 = std::max(w0, r.strName.size());
        w1 = std::max(w1, r.strFiles.size());
        w2 = std::max(w2, r.strSize.size());
        w3 = std::max(w3, r.strNotFiles.size());
        w4 = std::max(w4, r.strNotSize.size());
    }
    // The files no backup holds and their size, under one heading.
    const std::string strNotHeading = "Not backed up";
    std::string s;
    for (const Row& r : rows) {
        s += Pad(r.strName, w0, false) + "  " + Pad(r.strFiles, w1, true) + "  " +
             Pad(r.strSize, w2, true);
        if (pNot) {
            const std::string strCell = &r == &rows.front() ? strNotHeading
                                                            : Pad(r.strNotFiles, w3, true) + "  " +
                                                                  Pad(r.strNotSize, w4, true);
            s += "  " + Pad(strCell, std::max(strNotHeading.size(), w3 + 2 + w4), true);
        }
        s += "\n";
    }
    if (bStopped)
        s += "Stopped before the end: these are the files found until then.\n";
    return s;
}

std::string FormatProgress(const CScanResults& results, std::size_t nWidth) {
    std::string s;
    for (int i = 0; i < kGroupCount; ++i)
        s += results.GroupName(i) + " " + std::to_string(results.Files(i)) + " (" +
             FormatTotalSize(results.Bytes(i)) + ")  ";
    s += "Total " + std::to_string(results.TotalFiles()) + " (" +
         FormatTotalSize(results.TotalBytes()) + ")";
    if (nWidth > 0 && s.size() > nWidth)
        s.resize(nWidth);
    return s;
}
