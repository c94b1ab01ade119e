#include "ListDetails.h"

#include "SizeText.h"
#include "StringTable.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QHeaderView>
#include <QHelpEvent>
#include <QItemSelectionModel>
#include <QToolTip>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <limits>

namespace {

constexpr std::array<UINT, CListDetails::nColumns> kHeaders{
    IDS_COLUMN_NAME, IDS_COLUMN_PATH, IDS_COLUMN_TYPE, IDS_COLUMN_SIZE, IDS_COLUMN_DATE};
constexpr std::array<int, CListDetails::nColumns> kInitialWidths{150, 200, 45, 70, 104};
constexpr int kSmallIcon = 16; // SM_CXSMICON

class CWaitCursor {
public:
    CWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~CWaitCursor() { QApplication::restoreOverrideCursor(); }
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;
};

QString FromUtf8(std::string_view str) {
    return QString::fromUtf8(str.data(), static_cast<qsizetype>(str.size()));
}

// A name or folder as the list shows it: each control character (a byte below 0x20, or
// DEL) as its symbol of the Control Pictures block, one for each byte, so that
// "cr\rret.mp3" never looks like "crret.mp3" nor a name ends at a line break. The
// record keeps its bytes.
QString VisibleText(std::string_view str) {
    QString s = FromUtf8(str);
    for (QChar& ch : s) {
        const char16_t c = ch.unicode();
        if (c < 0x20)
            ch = QChar(static_cast<char16_t>(0x2400 + c));
        else if (c == 0x7F)
            ch = QChar(static_cast<char16_t>(0x2421));
    }
    return s;
}

// Null dates first, then valid ones by time, then the invalid ones, all equal. The
// order must be total: a comparison that calls an invalid date greater than either
// neighbour breaks the sort.
int DateRank(const COleDateTime& dt) {
    if (dt.m_status == DateTimeStatus::null)
        return 0;
    return dt.m_status == DateTimeStatus::valid && !std::isnan(dt.m_dt) ? 1 : 2;
}

std::uint64_t DateKey(const COleDateTime& dt) {
    switch (DateRank(dt)) {
    case 0:
        return 0;
    case 2:
        return std::numeric_limits<std::uint64_t>::max();
    default:
        break;
    }
    // The bits of a double, reordered so that unsigned order is numeric order; -0.0 is
    // 0.0. Finite and infinite values land strictly between the two ends above.
    const auto nBits = std::bit_cast<std::uint64_t>(dt.m_dt == 0.0 ? 0.0 : dt.m_dt);
    constexpr std::uint64_t kSign = 1ull << 63;
    return nBits & kSign ? ~nBits : nBits | kSign;
}

std::uint64_t SizeKey(std::int64_t nSize) {
    return static_cast<std::uint64_t>(nSize) ^ (1ull << 63);
}

struct SortEntry {
    std::uint64_t nKey;
    std::uint32_t nPos;    // position before this sort: equal keys keep their order
    std::uint32_t nRecord; // index in the records, which are in memory order
};

// Sorts by the folded texts: by their first eight bytes (keyAt(record, 0)), then each
// run of equal keys by the next eight (keyAt(record, 8)), and so on, so that only texts
// sharing a prefix are read again.
template <class KeyAt>
void SortTexts(std::vector<SortEntry>& arrEntries, bool bAscending, KeyAt keyAt) {
    const auto byKey = [bAscending](const SortEntry& a, const SortEntry& b) {
        if (a.nKey != b.nKey)
            return (a.nKey < b.nKey) == bAscending;
        return a.nPos < b.nPos;
    };
    for (SortEntry& e : arrEntries)
        e.nKey = keyAt(e.nRecord, 0);
    std::sort(arrEntries.begin(), arrEntries.end(), byKey);
    struct Range {
        std::size_t nBegin, nEnd, nDepth;
    };
    std::vector<Range> arrStack{{0, arrEntries.size(), 0}};
    while (!arrStack.empty()) {
        const Range range = arrStack.back();
        arrStack.pop_back();
        for (std::size_t i = range.nBegin; i < range.nEnd;) {
            std::size_t j = i + 1;
            while (j < range.nEnd && arrEntries[j].nKey == arrEntries[i].nKey)
                ++j;
            // A zero last byte: the texts ended here, equal (a name holds no NUL).
            if (j - i > 1 && (arrEntries[i].nKey & 0xFF) != 0) {
                const std::size_t nDepth = range.nDepth + 8;
                for (std::size_t k = i; k < j; ++k)
                    arrEntries[k].nKey = keyAt(arrEntries[k].nRecord, nDepth);
                std::sort(arrEntries.begin() + static_cast<std::ptrdiff_t>(i),
                          arrEntries.begin() + static_cast<std::ptrdiff_t>(j), byKey);
                arrStack.push_back({i, j, nDepth});
            }
            i = j;
        }
    }
}

// Each record's rank among the distinct texts in fold order; texts that compare equal
// share a rank. Folders and type names repeat a great deal, neighbours most of all:
// each distinct one is compared once instead of once per record.
template <class TextOf>
std::vector<std::uint32_t> RankTexts(std::size_t nRecords, const CCaseFold& fold, TextOf textOf) {
    std::unordered_map<std::string_view, std::uint32_t> mapIds;
    std::vector<std::string_view> arrDistinct;
    std::vector<std::uint32_t> arrRanks(nRecords);
    std::string_view strPrevious;
    std::uint32_t nPreviousId = 0;
    for (std::size_t i = 0; i < nRecords; ++i) {
        const std::string_view strText = textOf(i);
        if (i == 0 || strText != strPrevious) {
            const auto [it, bNew] =
                mapIds.try_emplace(strText, static_cast<std::uint32_t>(arrDistinct.size()));
            if (bNew)
                arrDistinct.push_back(strText);
            strPrevious = strText;
            nPreviousId = it->second;
        }
        arrRanks[i] = nPreviousId;
    }
    std::vector<SortEntry> arrEntries(arrDistinct.size());
    for (std::size_t i = 0; i < arrEntries.size(); ++i)
        arrEntries[i].nPos = arrEntries[i].nRecord = static_cast<std::uint32_t>(i);
    SortTexts(arrEntries, true, [&](std::uint32_t nId, std::size_t nDepth) {
        return fold.Prefix(arrDistinct[nId], nDepth);
    });
    std::vector<std::uint32_t> arrRankOfId(arrDistinct.size());
    std::uint32_t nRank = 0;
    for (std::size_t i = 0; i < arrEntries.size(); ++i) {
        if (i > 0 && fold.Compare(arrDistinct[arrEntries[i - 1].nRecord],
                                  arrDistinct[arrEntries[i].nRecord]) != 0)
            ++nRank;
        arrRankOfId[arrEntries[i].nRecord] = nRank;
    }
    for (std::uint32_t& n : arrRanks)
        n = arrRankOfId[n];
    return arrRanks;
}

} // namespace

// ---- The model: the rows of the list, texts made on demand ------------------------------

class CListDetails::CModel final : public QAbstractTableModel {
public:
    explicit CModel(CListDetails& list) : m_list(list) {}

    int rowCount(const QModelIndex& parent) const override {
        return parent.isValid() ? 0 : m_list.GetItemCount();
    }
    int columnCount(const QModelIndex& parent) const override {
        return parent.isValid() ? 0 : nColumns;
    }

    QVariant data(const QModelIndex& index, int nRole) const override {
        if (!index.isValid())
            return {};
        switch (nRole) {
        case Qt::DisplayRole:
            return m_list.GetItemText(index.row(), index.column());
        case Qt::DecorationRole:
            if (index.column() == colName) {
                const int nImage = m_list.GetItemImage(index.row());
                if (nImage >= 0)
                    return m_list.GetImage(nImage);
            }
            return {};
        case Qt::BackgroundRole:
            // The sort column is the selected column, tinted like the list view tints it.
            if (index.column() == m_nSelectedColumn)
                return m_list.palette().color(QPalette::Base).darker(104);
            return {};
        default:
            return {};
        }
    }

    QVariant headerData(int nSection, Qt::Orientation orientation, int nRole) const override {
        if (orientation != Qt::Horizontal || nSection < 0 || nSection >= nColumns)
            return {};
        if (nRole == Qt::DisplayRole)
            return FromUtf8(LoadString(kHeaders[static_cast<std::size_t>(nSection)]));
        if (nRole == Qt::TextAlignmentRole)
            return QVariant::fromValue((nSection == colSize ? Qt::AlignRight : Qt::AlignLeft) |
                                       Qt::AlignVCenter);
        return {};
    }

    Qt::ItemFlags flags(const QModelIndex& index) const override {
        return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren
                               : Qt::NoItemFlags;
    }

    void Reset(std::vector<FileProperty*> arrRecords) {
        beginResetModel();
        m_list.m_arrRecords = std::move(arrRecords);
        m_list.m_arrRows.resize(m_list.m_arrRecords.size());
        for (std::size_t i = 0; i < m_list.m_arrRows.size(); ++i)
            m_list.m_arrRows[i] = static_cast<std::uint32_t>(i);
        endResetModel();
    }

    // The rows in the order of the sorted entries; selection and current row follow
    // their records.
    void Reorder(const std::vector<SortEntry>& arrSorted) {
        emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
        std::vector<std::uint32_t>& arrRows = m_list.m_arrRows;
        for (std::size_t i = 0; i < arrSorted.size(); ++i)
            arrRows[i] = arrSorted[i].nRecord;
        const QModelIndexList arrFrom = persistentIndexList();
        if (!arrFrom.isEmpty()) {
            std::vector<std::uint32_t> arrNewPos(arrSorted.size());
            for (std::size_t i = 0; i < arrSorted.size(); ++i)
                arrNewPos[arrSorted[i].nPos] = static_cast<std::uint32_t>(i);
            QModelIndexList arrTo;
            arrTo.reserve(arrFrom.size());
            for (const QModelIndex& index : arrFrom)
                arrTo.append(
                    this->index(static_cast<int>(arrNewPos[static_cast<std::size_t>(index.row())]),
                                index.column()));
            changePersistentIndexList(arrFrom, arrTo);
        }
        emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    }

    void SetSelectedColumn(int nColumn) { m_nSelectedColumn = nColumn; }

private:
    CListDetails& m_list;
    int m_nSelectedColumn = -1;
};

// ---- The list ------------------------------------------------------------------------------

CListDetails::CListDetails(QWidget* pParent)
    : QTableView(pParent), m_bSortAscending(false), m_nSortColumn(0),
      m_pModel(std::make_unique<CModel>(*this)),
      m_pDesktopTypes(std::make_unique<CMimeFileTypes>()),
      m_pDesktopDates(std::make_unique<CLocaleDateFormat>()), m_pTypes(m_pDesktopTypes.get()),
      m_pDates(m_pDesktopDates.get()) {
    setModel(m_pModel.get());
}

CListDetails::~CListDetails() {
    // The view lets go of the model before the model goes.
    setModel(nullptr);
}

void CListDetails::SetServices(const IFileTypeInfo* pTypes, const IDateFormat* pDates) {
    m_pTypes = pTypes ? pTypes : m_pDesktopTypes.get();
    m_pDates = pDates ? pDates : m_pDesktopDates.get();
}

void CListDetails::PreSubclassWindow() {
    QHeaderView* pHeader = horizontalHeader();
    pHeader->setSectionsClickable(true);
    pHeader->setSortIndicatorShown(true);
    pHeader->setSortIndicator(-1, Qt::AscendingOrder); // none until the first sort
    pHeader->setHighlightSections(false);
    pHeader->setStretchLastSection(false);
    pHeader->setMinimumSectionSize(0);
    for (int i = 0; i < nColumns; ++i)
        setColumnWidth(i, kInitialWidths[static_cast<std::size_t>(i)]);
    connect(pHeader, &QHeaderView::sectionClicked, this, &CListDetails::OnColumnClick);

    // Report view: rows of one height, no grid, whole rows selected, several at once.
    QHeaderView* pRows = verticalHeader();
    pRows->hide();
    pRows->setSectionResizeMode(QHeaderView::Fixed);
    const int nRowHeight = std::max(fontMetrics().height(), kSmallIcon) + 4;
    pRows->setMinimumSectionSize(nRowHeight);
    pRows->setDefaultSectionSize(nRowHeight);
    setShowGrid(false);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setTabKeyNavigation(false);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setIconSize(QSize(kSmallIcon, kSmallIcon));
}

bool CListDetails::FillList(CFileList* pList) {
    if (!pList)
        return false;
    const CWaitCursor wait;
    // The records present now, read once; the store may grow while the window is open.
    const std::size_t nCount = pList->size();
    std::vector<FileProperty*> arrRows;
    arrRows.reserve(nCount);
    auto it = pList->begin();
    for (std::size_t i = 0; i < nCount; ++i, ++it) {
        FileProperty& record = *it;
        const std::string_view strExtension = FileProperty::ExtensionOf(record.m_strPath);
        auto itType = m_mapTypeName.find(strExtension);
        if (itType == m_mapTypeName.end()) {
            LookUpExtension(std::string(strExtension));
            itType = m_mapTypeName.find(strExtension);
        }
        record.m_strType = itType->second;
        arrRows.push_back(&record);
    }
    m_pModel->Reset(std::move(arrRows));
    FitColumnsToCells();

    m_nSortColumn = colName;
    m_bSortAscending = true;
    SortItems(MakeSortParam(colName, true));
    SetSelectedColumn(colName);
    UpdateSortArrows();
    return true;
}

int CListDetails::LookUpExtension(const std::string& strExtension) {
    if (const auto it = m_mapIconIndex.find(strExtension); it != m_mapIconIndex.end())
        return it->second;
    FileTypeInfo info = m_pTypes->GetFileTypeInfo(strExtension);
    int nImage = -1;
    if (!info.icon.isNull()) {
        m_imlSmall.push_back(std::move(info.icon));
        nImage = static_cast<int>(m_imlSmall.size()) - 1;
    }
    m_mapIconIndex.emplace(strExtension, nImage);
    m_mapTypeName.emplace(strExtension, std::move(info.strTypeName));
    return nImage;
}

std::string CListDetails::GetTypeName(const std::string& strExtension) {
    LookUpExtension(strExtension);
    return m_mapTypeName.find(strExtension)->second;
}

void CListDetails::OnColumnClick(int nColumn) {
    const CWaitCursor wait;
    if (nColumn != m_nSortColumn)
        m_bSortAscending = true;
    else
        m_bSortAscending = !m_bSortAscending;
    m_nSortColumn = nColumn;
    SortItems(MakeSortParam(nColumn, m_bSortAscending));
    SetSelectedColumn(nColumn);
    UpdateSortArrows();
}

int CListDetails::CompareItems(FileProperty* p1, FileProperty* p2, LPARAM lParamSort) {
    const int nColumn = static_cast<int>(lParamSort & 0xFFFF);
    const bool bAscending = ((lParamSort >> 16) & 0xFFFF) != 0;
    int d = 0;
    switch (nColumn) {
    case colName:
        d = m_caseFold.Compare(FileProperty::FileNameOf(p1->m_strPath),
                               FileProperty::FileNameOf(p2->m_strPath));
        break;
    case colPath:
        d = m_caseFold.Compare(FileProperty::FolderOf(p1->m_strPath),
                               FileProperty::FolderOf(p2->m_strPath));
        break;
    case colType:
        d = m_caseFold.Compare(p1->GetTypeName(*this), p2->GetTypeName(*this));
        break;
    case colSize:
        d = p1->m_nSize < p2->m_nSize ? -1 : p1->m_nSize > p2->m_nSize ? 1 : 0;
        break;
    case colDate: {
        const COleDateTime& a = p1->m_dtModified;
        const COleDateTime& b = p2->m_dtModified;
        const int nRankA = DateRank(a), nRankB = DateRank(b);
        if (nRankA != nRankB)
            d = nRankA < nRankB ? -1 : 1;
        else if (nRankA == 1)
            d = a.m_dt < b.m_dt ? -1 : a.m_dt > b.m_dt ? 1 : 0;
        break;
    }
    default:
        break;
    }
    return bAscending ? d : -d;
}

// The order CompareItems defines, made from keys: each record's key is made once, in
// the records' own order (their order in memory), so that a comparison is a few
// integer tests. Ties keep their previous order, which makes the sort stable for free.
void CListDetails::SortItems(LPARAM lParamSort) {
    m_caseFold = CCaseFold();
    const int nColumn = static_cast<int>(lParamSort & 0xFFFF);
    const bool bAscending = ((lParamSort >> 16) & 0xFFFF) != 0;
    if (nColumn < 0 || nColumn >= nColumns)
        return; // every pair compares equal: nothing moves
    const std::size_t nRecords = m_arrRecords.size();
    std::vector<SortEntry> arrEntries(nRecords);
    for (std::size_t i = 0; i < nRecords; ++i) {
        SortEntry& e = arrEntries[m_arrRows[i]];
        e.nPos = static_cast<std::uint32_t>(i);
        e.nRecord = m_arrRows[i];
    }
    const auto sortByKey = [&](auto keyOf) {
        for (std::size_t i = 0; i < nRecords; ++i)
            arrEntries[i].nKey = keyOf(i);
        std::sort(arrEntries.begin(), arrEntries.end(),
                  [bAscending](const SortEntry& a, const SortEntry& b) {
                      if (a.nKey != b.nKey)
                          return (a.nKey < b.nKey) == bAscending;
                      return a.nPos < b.nPos;
                  });
    };

    switch (nColumn) {
    case colName: {
        // Ties of the first eight bytes are common ("IMG_2023", "Screenshot from"): the
        // next sixteen are made in the same pass in memory order, so that breaking a tie
        // rarely has to go back to a record.
        std::vector<std::array<std::uint64_t, 2>> arrKeys(nRecords);
        for (std::size_t n = 0; n < nRecords; ++n)
            m_caseFold.Prefixes(FileProperty::FileNameOf(m_arrRecords[n]->m_strPath), 8,
                                arrKeys[n]);
        SortTexts(arrEntries, bAscending, [&](std::uint32_t n, std::size_t nDepth) {
            if (nDepth == 8 || nDepth == 16)
                return arrKeys[n][nDepth / 8 - 1];
            return m_caseFold.Prefix(FileProperty::FileNameOf(m_arrRecords[n]->m_strPath), nDepth);
        });
        break;
    }
    case colPath:
    case colType: {
        const auto textOf = [&](std::size_t n) -> std::string_view {
            FileProperty& record = *m_arrRecords[n];
            return nColumn == colPath ? FileProperty::FolderOf(record.m_strPath)
                                      : record.GetTypeName(*this);
        };
        const std::vector<std::uint32_t> arrRanks = RankTexts(nRecords, m_caseFold, textOf);
        sortByKey([&](std::size_t n) { return arrRanks[n]; });
        break;
    }
    case colSize:
        sortByKey([&](std::size_t n) { return SizeKey(m_arrRecords[n]->m_nSize); });
        break;
    default:
        sortByKey([&](std::size_t n) { return DateKey(m_arrRecords[n]->m_dtModified); });
        break;
    }
    m_pModel->Reorder(arrEntries);
}

QModelIndex CListDetails::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) {
    if (action == MoveHome || action == MoveEnd)
        modifiers |= Qt::ControlModifier; // the table's rows, not the row's columns
    return QTableView::moveCursor(action, modifiers);
}

bool CListDetails::viewportEvent(QEvent* pEvent) {
    if (pEvent->type() != QEvent::ToolTip)
        return QTableView::viewportEvent(pEvent);
    auto* pHelp = static_cast<QHelpEvent*>(pEvent);
    const QModelIndex index = indexAt(pHelp->pos());
    if (index.isValid() && (index.column() == colName || index.column() == colPath)) {
        QStyleOptionViewItem option;
        initViewItemOption(&option);
        option.rect = visualRect(index);
        // What the cell needs, icon and margins included, against what it has.
        if (itemDelegateForIndex(index)->sizeHint(option, index).width() > option.rect.width()) {
            // As plain text on one line: a name may look like markup.
            const QString strTip =
                QStringLiteral("<p style='white-space:pre'>%1</p>")
                    .arg(GetItemText(index.row(), index.column()).toHtmlEscaped());
            QToolTip::showText(pHelp->globalPos(), strTip, viewport(), option.rect);
            return true;
        }
    }
    QToolTip::hideText();
    pEvent->ignore();
    return true;
}

void CListDetails::SetSelectedColumn(int nColumn) {
    m_pModel->SetSelectedColumn(nColumn);
    viewport()->update();
}

void CListDetails::UpdateSortArrows() {
    // Qt's header draws Qt::AscendingOrder as a downward-pointing indicator: the order
    // the list view's down arrow stood for.
    horizontalHeader()->setSortIndicator(m_nSortColumn, m_bSortAscending ? Qt::AscendingOrder
                                                                         : Qt::DescendingOrder);
    const QItemSelection selection = selectionModel()->selection();
    int nFirst = -1;
    for (const QItemSelectionRange& range : selection)
        if (nFirst < 0 || range.top() < nFirst)
            nFirst = range.top();
    if (nFirst >= 0)
        scrollTo(m_pModel->index(nFirst, 0), QAbstractItemView::EnsureVisible);
}

QString CListDetails::GetItemText(int nItem, int nSubItem) {
    FileProperty& record = *GetItemData(nItem);
    switch (nSubItem) {
    case colName:
        return VisibleText(record.GetFileName());
    case colPath:
        return VisibleText(record.GetFolder());
    case colType:
        return FromUtf8(record.GetTypeName(*this));
    case colSize:
        return FromUtf8(record.GetSizeText());
    case colDate:
        return FromUtf8(record.GetDateText(*m_pDates));
    default:
        return {};
    }
}

int CListDetails::GetItemImage(int nItem) const {
    const auto it = m_mapIconIndex.find(FileProperty::ExtensionOf(GetItemData(nItem)->m_strPath));
    return it == m_mapIconIndex.end() ? -1 : it->second;
}

QIcon CListDetails::GetImage(int nImage) const {
    return nImage >= 0 && nImage < static_cast<int>(m_imlSmall.size())
               ? m_imlSmall[static_cast<std::size_t>(nImage)]
               : QIcon();
}

// Type, size and date columns as wide as their widest cell, the date column at least
// as wide as its header. Only the distinct texts are measured: type names per
// extension, sizes by the largest value of each unit, dates by month, day and hour
// (digits are equally wide in the fonts the program uses).
void CListDetails::FitColumnsToCells() {
    if (m_arrRows.empty())
        return;
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    const QFontMetrics fm(option.font);
    const auto textWidth = [&fm](const std::string& str) {
        return fm.horizontalAdvance(FromUtf8(str));
    };
    // What a cell adds around its text (the same with no text), from the first row's.
    const auto padding = [&](int nColumn) {
        return itemDelegate()->sizeHint(option, m_pModel->index(0, nColumn)).width() -
               fm.horizontalAdvance(GetItemText(0, nColumn));
    };

    int nType = 0;
    for (const auto& [strExtension, strType] : m_mapTypeName)
        nType = std::max(nType, textWidth(strType));

    // Within a unit the largest value has the most digits.
    constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    std::array<std::int64_t, 4> arrLargest{kMin, kMin, kMin, kMin};
    std::int64_t nSmallest = std::numeric_limits<std::int64_t>::max();
    std::array<int, 13 * 4> arrDayWidth;
    arrDayWidth.fill(-1);
    std::array<int, 24> arrHourWidth;
    arrHourWidth.fill(-1);
    const int nSpace = fm.horizontalAdvance(QLatin1Char(' '));
    const int nInvalid = textWidth(std::string(kInvalidDateTime));
    int nDate = 0;
    for (const FileProperty* pRecord : m_arrRecords) {
        const std::int64_t n = pRecord->m_nSize;
        const std::size_t nUnit = n < 1024 ? 0 : n < 1048576 ? 1 : n < 1073741824 ? 2 : 3;
        arrLargest[nUnit] = std::max(arrLargest[nUnit], n);
        nSmallest = std::min(nSmallest, n);

        const COleDateTime& dt = pRecord->m_dtModified;
        if (dt.m_status == DateTimeStatus::null)
            continue;
        SYSTEMTIME st;
        if (dt.m_status != DateTimeStatus::valid || !VariantTimeToSystemTime(dt.m_dt, st)) {
            nDate = std::max(nDate, 2 * nInvalid + nSpace);
            continue;
        }
        // A short date's width depends on its month and on how many digits its day and
        // year have.
        int& nDayWidth = arrDayWidth[(st.wMonth % 13) * 4 + (st.wDay >= 10 ? 2 : 0) +
                                     (st.wYear >= 1000 ? 1 : 0)];
        if (nDayWidth < 0) {
            std::string strDate;
            nDayWidth = m_pDates->FormatDate(st, strDate) ? textWidth(strDate) : nInvalid;
        }
        int& nHour = arrHourWidth[std::min<std::size_t>(st.wHour, 23)];
        if (nHour < 0) {
            SYSTEMTIME stHour = st;
            stHour.wMinute = 58;
            stHour.wSecond = 58;
            std::string strTime;
            nHour = m_pDates->FormatTime(stHour, strTime) ? textWidth(strTime) : nInvalid;
        }
        nDate = std::max(nDate, nDayWidth + nSpace + nHour);
    }
    int nSize = textWidth(FormatSize(nSmallest));
    for (const std::int64_t n : arrLargest)
        if (n != kMin)
            nSize = std::max(nSize, textWidth(FormatSize(n)));

    setColumnWidth(colType, nType + padding(colType));
    setColumnWidth(colSize, nSize + padding(colSize));
    setColumnWidth(
        colDate, std::max(nDate + padding(colDate), horizontalHeader()->sectionSizeHint(colDate)));
}
