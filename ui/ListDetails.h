// The details window's file list: one row per record of a group, five columns (name
// with the type's icon, folder, type name, size, date modified), sortable by each.
// Rows point to the records, which never move; cell texts are made only for the rows
// on screen, and sorts compare keys made once per record, so a million rows open and
// sort quickly.
#pragma once

#include "CaseFold.h"
#include "FileProperty.h"
#include "FileTypes.h"
#include "platform/Types.h"

#include <QIcon>
#include <QTableView>

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// The sort parameter: column in the low 16 bits, direction in the high 16 (non-zero:
// ascending).
constexpr LPARAM MakeSortParam(int nColumn, bool bAscending) {
    return static_cast<LPARAM>((nColumn & 0xFFFF) | ((bAscending ? 1 : 0) << 16));
}

class CListDetails : public QTableView, private IFileTypeNames {
    Q_OBJECT

public:
    enum Column { colName, colPath, colType, colSize, colDate, nColumns };

    explicit CListDetails(QWidget* pParent = nullptr);
    ~CListDetails() override;

    // Where icons, type names and date texts come from; the desktop's by default. Both
    // must outlive the list. Set before FillList.
    void SetServices(const IFileTypeInfo* pTypes, const IDateFormat* pDates);

    // Attached to its dialog item: columns, headers, selection, row height.
    void PreSubclassWindow();
    // One row for each record the list holds now, sorted by name ascending; each
    // record's m_strType is filled. The list is read here only: records added later are
    // not shown. Nothing happens for a null list.
    bool FillList(CFileList* pList);
    // A click on column c's header: ascending for a new column, reversed for the same.
    void OnColumnClick(int nColumn);
    // The order of two records by the column and direction of lParamSort: <0, 0 or >0.
    int CompareItems(FileProperty* p1, FileProperty* p2, LPARAM lParamSort);
    // The header shows the sort column's indicator, pointing down for ascending; the
    // first selected row is scrolled into view.
    void UpdateSortArrows();

    int GetItemCount() const { return static_cast<int>(m_arrRows.size()); }
    FileProperty* GetItemData(int nItem) const {
        return m_arrRecords[m_arrRows[static_cast<std::size_t>(nItem)]];
    }
    QString GetItemText(int nItem, int nSubItem);
    // Index in the small image list, -1 for none.
    int GetItemImage(int nItem) const;
    QIcon GetImage(int nImage) const;
    bool IsSortAscending() const { return m_bSortAscending; }

protected:
    // Home and End go to the first and last row (Qt's table would go to the first and
    // last column of the row), Shift extending the selection as usual.
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    // A name or folder cut short in its cell shows whole in a tool tip.
    bool viewportEvent(QEvent* pEvent) override;

private:
    class CModel;

    std::string GetTypeName(const std::string& strExtension) override;
    // The icon index of the extension, asking the desktop once per extension.
    int LookUpExtension(const std::string& strExtension);
    void SortItems(LPARAM lParamSort);
    void FitColumnsToCells();
    void SetSelectedColumn(int nColumn);

    bool m_bSortAscending;
    int m_nSortColumn;
    std::vector<QIcon> m_imlSmall; // small file-type icons
    // Keyed by the extension as GetExtension gives it, case-sensitively, and looked up
    // by views into the paths.
    struct CTextHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view str) const {
            return std::hash<std::string_view>{}(str);
        }
    };
    template <class T>
    using CExtensionMap = std::unordered_map<std::string, T, CTextHash, std::equal_to<>>;
    CExtensionMap<int> m_mapIconIndex;        // extension -> icon, -1 none
    CExtensionMap<std::string> m_mapTypeName; // extension -> type name

    std::vector<FileProperty*> m_arrRecords; // in the list's order, which is memory order
    std::vector<std::uint32_t> m_arrRows;    // display order: indices in m_arrRecords
    CCaseFold m_caseFold;                    // the locale's folding as of the last sort
    std::unique_ptr<CModel> m_pModel;
    std::unique_ptr<IFileTypeInfo> m_pDesktopTypes;
    std::unique_ptr<IDateFormat> m_pDesktopDates;
    const IFileTypeInfo* m_pTypes;
    const IDateFormat* m_pDates;
};
