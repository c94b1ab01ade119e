#include "DetailsDlg.h"
#include "UiTestSupport.h"

#include <QApplication>
#include <QFileInfo>
#include <QHeaderView>
#include <QHelpEvent>
#include <QPixmap>
#include <QTest>
#include <QTextDocument>
#include <QToolTip>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace {

// Answers every extension with a type name and a small icon of its own (none for
// ".noicon") and remembers what it was asked.
class CCountingTypes final : public IFileTypeInfo {
public:
    FileTypeInfo GetFileTypeInfo(const std::string& strExtension) const override {
        m_arrAsked.push_back(strExtension);
        FileTypeInfo info;
        info.strTypeName = strExtension.empty() ? "File" : "Type" + strExtension;
        if (strExtension != ".noicon") {
            QPixmap bmp(16, 16);
            bmp.fill(QColor::fromHsv(static_cast<int>(m_arrAsked.size() * 37 % 360), 200, 200));
            info.icon = QIcon(bmp);
        }
        return info;
    }
    mutable std::vector<std::string> m_arrAsked;
};

class CNumericDates final : public IDateFormat {
public:
    bool FormatDate(const SYSTEMTIME& st, std::string& strText) const override {
        strText = std::to_string(st.wYear) + "-" + std::to_string(st.wMonth) + "-" +
                  std::to_string(st.wDay);
        return true;
    }
    bool FormatTime(const SYSTEMTIME& st, std::string& strText) const override {
        strText = std::to_string(st.wHour) + ":" + std::to_string(st.wMinute) + ":" +
                  std::to_string(st.wSecond);
        return true;
    }
};

FileProperty Record(const std::string& strPath, std::int64_t nSize = 0,
                    COleDateTime dt = {40000.5, DateTimeStatus::valid}) {
    FileProperty record;
    record.m_strPath = strPath;
    record.m_nSize = nSize;
    record.m_dtModified = dt;
    return record;
}

class DetailsDlgTest : public ::testing::Test {
protected:
    std::unique_ptr<CDetailsDlg> Open(CFileList* pList) {
        auto pDlg = std::make_unique<CDetailsDlg>(pList);
        pDlg->GetFileList().SetServices(&m_types, &m_dates);
        pDlg->Create();
        return pDlg;
    }

    static std::vector<std::string> Column(CListDetails& list, int nColumn) {
        std::vector<std::string> arrTexts;
        for (int i = 0; i < list.GetItemCount(); ++i)
            arrTexts.push_back(list.GetItemText(i, nColumn).toStdString());
        return arrTexts;
    }

    // The direction the header's indicator points in on screen: the wide end of the
    // triangle at the top points it down.
    static bool IndicatorPointsDown(CListDetails& list, int nColumn) {
        QHeaderView& header = *list.horizontalHeader();
        const QImage img = header.grab().toImage();
        const int x0 = header.sectionViewportPosition(nColumn);
        const int x1 = x0 + header.sectionSize(nColumn);
        // The indicator sits at the right end of the section, the caption at the left.
        const int nBackground = qGray(img.pixel(x1 - 30, 1));
        std::vector<int> arrInk;
        for (int y = 0; y < img.height() - 1; ++y) {
            int nInk = 0;
            for (int x = x1 - 22; x < x1 - 1; ++x)
                nInk += qGray(img.pixel(x, y)) < nBackground - 60 ? 1 : 0;
            if (nInk > 0)
                arrInk.push_back(nInk);
        }
        EXPECT_GE(arrInk.size(), 2u) << "no indicator drawn";
        return arrInk.size() >= 2 && arrInk.front() > arrInk.back();
    }

    CCountingTypes m_types;
    CNumericDates m_dates;
};

TEST_F(DetailsDlgTest, OpensByNameAscendingWithTheDownwardIndicatorAskingOncePerExtension) {
    CFileList list{Record("/d/b.DOC", 3), Record("/d/A.doc", 1), Record("/e/c.pdf", 2),
                   Record("/e/d.doc", 4)};
    const CFileList before = list;
    auto pDlg = Open(&list);
    CListDetails& files = pDlg->GetFileList();

    EXPECT_EQ(pDlg->windowTitle(), QStringLiteral("Quenby"));
    EXPECT_EQ(Column(files, 0), (std::vector<std::string>{"A.doc", "b.DOC", "c.pdf", "d.doc"}));
    EXPECT_EQ(files.horizontalHeader()->sortIndicatorSection(), 0);
    EXPECT_TRUE(IndicatorPointsDown(files, 0));

    // .DOC and .doc are separate types; each extension once, its icon shared.
    std::sort(m_types.m_arrAsked.begin(), m_types.m_arrAsked.end());
    EXPECT_EQ(m_types.m_arrAsked, (std::vector<std::string>{".DOC", ".doc", ".pdf"}));
    EXPECT_EQ(files.GetItemImage(0), files.GetItemImage(3));
    EXPECT_NE(files.GetItemImage(0), files.GetItemImage(1));

    // Sorting by type reads the names the records now keep: nobody is asked again.
    files.OnColumnClick(CListDetails::colType);
    EXPECT_EQ(m_types.m_arrAsked.size(), 3u);

    // The store's records gained their type names and nothing else.
    for (std::size_t i = 0; i < list.size(); ++i) {
        EXPECT_EQ(list[i].m_strType, "Type" + list[i].GetExtension());
        EXPECT_EQ(list[i].m_strPath, before[i].m_strPath);
        EXPECT_EQ(list[i].m_nSize, before[i].m_nSize);
        EXPECT_EQ(list[i].m_dtModified, before[i].m_dtModified);
    }
}

TEST_F(DetailsDlgTest, SizeClickedTwiceThenNameAndEqualSizesKeepTheirOrder) {
    CFileList list{Record("/x/a.doc", 30), Record("/x/b.doc", 10), Record("/x/c.doc", 20),
                   Record("/x/d.doc", 10)};
    auto pDlg = Open(&list);
    CListDetails& files = pDlg->GetFileList();
    QHeaderView& header = *files.horizontalHeader();
    const auto clickHeader = [&header](int nColumn) {
        const QPoint pt(header.sectionViewportPosition(nColumn) + 10, header.height() / 2);
        QTest::mouseClick(header.viewport(), Qt::LeftButton, {}, pt);
    };

    clickHeader(CListDetails::colSize);
    EXPECT_EQ(Column(files, 0), (std::vector<std::string>{"b.doc", "d.doc", "c.doc", "a.doc"}));
    EXPECT_EQ(header.sortIndicatorSection(), CListDetails::colSize);
    EXPECT_TRUE(files.IsSortAscending());
    EXPECT_TRUE(IndicatorPointsDown(files, CListDetails::colSize));

    clickHeader(CListDetails::colSize);
    EXPECT_EQ(Column(files, 0), (std::vector<std::string>{"a.doc", "c.doc", "b.doc", "d.doc"}));
    EXPECT_FALSE(files.IsSortAscending());
    EXPECT_FALSE(IndicatorPointsDown(files, CListDetails::colSize));
    EXPECT_EQ(files.CompareItems(&list[1], &list[3], MakeSortParam(CListDetails::colSize, true)),
              0);

    clickHeader(CListDetails::colName);
    EXPECT_EQ(Column(files, 0), (std::vector<std::string>{"a.doc", "b.doc", "c.doc", "d.doc"}));
    EXPECT_TRUE(files.IsSortAscending());
    EXPECT_EQ(header.sortIndicatorSection(), CListDetails::colName);
    EXPECT_TRUE(IndicatorPointsDown(files, CListDetails::colName));
}

TEST_F(DetailsDlgTest, EverySortAgreesWithCompareItemsAndKeepsTiesInTheirOrder) {
    // Names and folders that differ in case, accents and undecodable bytes; repeated
    // sizes; null, invalid and equal dates.
    const std::vector<std::string> arrStems{"a",
                                            "A",
                                            "b",
                                            "Zeta",
                                            "zeta",
                                            "\xC3\xA9t\xC3\xA9",
                                            "\xC3\x89T\xC3\x89",
                                            "caf\xE9",
                                            "caf\xFF",
                                            "x\xC3",
                                            "IMG_2041",
                                            "img_2041",
                                            ""};
    const std::vector<std::string> arrFolders{"/home/a/", "/home/A/", "/Home/b/", "/d\xE9j\xE0/",
                                              "/"};
    const std::vector<std::string> arrExtensions{".doc", ".DOC", ".pdf", "", ".noicon"};
    std::mt19937 random(12345);
    const auto pick = [&random](const auto& arr) { return arr[random() % arr.size()]; };
    CFileList list;
    for (int i = 0; i < 400; ++i) {
        COleDateTime dt{40000.0 + static_cast<double>(random() % 5) / 4, DateTimeStatus::valid};
        if (i % 17 == 0)
            dt.m_status = DateTimeStatus::invalid;
        if (i % 23 == 0)
            dt = {0.0, DateTimeStatus::null};
        list.push_back(Record(pick(arrFolders) + pick(arrStems) + pick(arrExtensions),
                              static_cast<std::int64_t>(random() % 7) - 2, dt));
    }
    auto pDlg = Open(&list);
    CListDetails& files = pDlg->GetFileList();

    for (const int nColumn : {1, 2, 3, 4, 0}) {
        for (int nClick = 0; nClick < 2; ++nClick) {
            std::map<const FileProperty*, int> mapBefore;
            for (int i = 0; i < files.GetItemCount(); ++i)
                mapBefore[files.GetItemData(i)] = i;
            files.OnColumnClick(nColumn);
            const LPARAM lParam = MakeSortParam(nColumn, files.IsSortAscending());
            ASSERT_EQ(files.GetItemCount(), 400);
            for (int i = 0; i + 1 < files.GetItemCount(); ++i) {
                FileProperty* p1 = files.GetItemData(i);
                FileProperty* p2 = files.GetItemData(i + 1);
                const int d = files.CompareItems(p1, p2, lParam);
                ASSERT_LE(d, 0) << "column " << nColumn << " row " << i;
                ASSERT_EQ(files.CompareItems(p2, p1, lParam), -d) << "column " << nColumn;
                if (d == 0) {
                    ASSERT_LT(mapBefore[p1], mapBefore[p2]) << "column " << nColumn;
                }
            }
        }
    }
}

TEST_F(DetailsDlgTest, CompareItemsRules) {
    FileProperty a = Record("/Docs/x.doc", -5, {100.0, DateTimeStatus::valid});
    FileProperty b = Record("/docs/X.DOC", 7, {100.0, DateTimeStatus::valid});
    FileProperty later = Record("/e/y.pdf", 7, {100.5, DateTimeStatus::valid});
    FileProperty invalid = Record("/e/y.pdf", 7, {0.0, DateTimeStatus::invalid});
    FileProperty invalid2 = Record("/e/y.pdf", 7, {50.0, DateTimeStatus::invalid});
    FileProperty null = Record("/e/y.pdf", 7, {0.0, DateTimeStatus::null});
    CDetailsDlg dlg(nullptr);
    CListDetails& files = dlg.GetFileList();
    files.SetServices(&m_types, &m_dates);
    const auto cmp = [&files](FileProperty& p1, FileProperty& p2, int nColumn, bool bUp = true) {
        return files.CompareItems(&p1, &p2, MakeSortParam(nColumn, bUp));
    };
    EXPECT_EQ(cmp(a, b, 0), 0); // A-Z fold
    EXPECT_EQ(cmp(a, b, 1), 0);
    EXPECT_EQ(cmp(a, b, 2), 0); // type names are asked for when missing, then folded
    EXPECT_EQ(a.m_strType, "Type.doc");
    EXPECT_LT(cmp(a, b, 3), 0); // sizes are signed
    EXPECT_GT(cmp(a, b, 3, false), 0);
    EXPECT_EQ(cmp(a, b, 4), 0);
    EXPECT_LT(cmp(a, later, 4), 0);
    EXPECT_GT(cmp(later, a, 4), 0);
    // Null before every time, invalid after every time, each kind equal to its own.
    EXPECT_LT(cmp(null, a, 4), 0);
    EXPECT_GT(cmp(invalid, later, 4), 0);
    EXPECT_LT(cmp(later, invalid, 4), 0);
    EXPECT_EQ(cmp(invalid, invalid2, 4), 0);
    EXPECT_EQ(cmp(null, null, 4), 0);
    EXPECT_EQ(cmp(a, later, 9), 0);
}

TEST_F(DetailsDlgTest, CellsShowTheRecordsUndecodableBytesVisiblyAndNoExtensionIsAnExtension) {
    CFileList list{Record("/data/Caf\xE9/r\xE9sum\xE9.pdf", 1152),
                   Record("/x/README", 5, {40606.430902777778, DateTimeStatus::valid}),
                   Record("/x/w.noicon", 0, {40606.4, DateTimeStatus::invalid}),
                   Record("/x/z.noicon", 0, {0.0, DateTimeStatus::null}),
                   Record("/x/zz\rret.mp3"),
                   Record("/x/zz\nline.pdf"),
                   Record("/new\nfolder\t/zz\x7F\x1B.doc")};
    auto pDlg = Open(&list);
    CListDetails& files = pDlg->GetFileList();
    ASSERT_EQ(files.GetItemCount(), 7);
    EXPECT_EQ(files.GetItemText(0, 0), QStringLiteral("README"));
    EXPECT_EQ(files.GetItemText(0, 2), QStringLiteral("File"));
    EXPECT_EQ(files.GetItemText(0, 3), QStringLiteral("5 B"));
    EXPECT_EQ(files.GetItemText(0, 4), QStringLiteral("2011-3-4 10:20:30"));
    EXPECT_EQ(files.GetItemText(1, 0), QStringLiteral("r\uFFFDsum\uFFFD.pdf"));
    EXPECT_EQ(files.GetItemText(1, 1), QStringLiteral("/data/Caf\uFFFD/"));
    EXPECT_EQ(files.GetItemText(1, 3), QStringLiteral("1.13 KB"));
    EXPECT_EQ(files.GetItemText(2, 4), QStringLiteral("Invalid DateTime Invalid DateTime"));
    EXPECT_EQ(files.GetItemText(3, 4), QString());
    EXPECT_EQ(list[0].m_strPath, "/data/Caf\xE9/r\xE9sum\xE9.pdf");
    // A control character shows as its own symbol, one per byte: two files never look
    // alike, nor does a name end at a line break.
    EXPECT_EQ(files.GetItemText(4, 0), QStringLiteral("zz\u240Aline.pdf"));
    EXPECT_EQ(files.GetItemText(5, 0), QStringLiteral("zz\u240Dret.mp3"));
    EXPECT_EQ(files.GetItemText(6, 0), QStringLiteral("zz\u2421\u241B.doc"));
    EXPECT_EQ(files.GetItemText(6, 1), QStringLiteral("/new\u240Afolder\u2409/"));
    EXPECT_EQ(list[4].m_strPath, "/x/zz\rret.mp3");

    // The empty extension is asked for like any other; no icon is cached as none.
    EXPECT_EQ(std::count(m_types.m_arrAsked.begin(), m_types.m_arrAsked.end(), ""), 1);
    EXPECT_EQ(std::count(m_types.m_arrAsked.begin(), m_types.m_arrAsked.end(), ".noicon"), 1);
    QAbstractItemModel& model = *files.model();
    EXPECT_TRUE(model.index(0, 0).data(Qt::DecorationRole).canConvert<QIcon>());
    EXPECT_EQ(files.GetItemImage(2), -1);
    EXPECT_FALSE(model.index(2, 0).data(Qt::DecorationRole).isValid());
    EXPECT_EQ(model.headerData(3, Qt::Horizontal, Qt::TextAlignmentRole).value<Qt::Alignment>() &
                  Qt::AlignHorizontal_Mask,
              Qt::AlignRight);
    EXPECT_EQ(model.headerData(4, Qt::Horizontal).toString(), QStringLiteral("Date Modified"));
}

TEST_F(DetailsDlgTest, TypeSizeAndDateColumnsFitTheirWidestCell) {
    CFileList list{Record("/x/0.doc", 5, {0.0, DateTimeStatus::null}),
                   Record("/x/a.doc", 5, {45000.99, DateTimeStatus::valid}),
                   Record("/x/b.longer-extension", 1073741824LL * 2047),
                   Record("/x/c.pdf", -123456, {45291.5, DateTimeStatus::valid}),
                   Record("/x/d.pdf", 1048575, {0.0, DateTimeStatus::invalid})};
    auto pDlg = Open(&list);
    CListDetails& files = pDlg->GetFileList();
    QStyleOptionViewItem option;
    option.font = files.font();
    option.features = QStyleOptionViewItem::HasDisplay;
    for (const int nColumn : {2, 3, 4}) {
        int nWidest = 0;
        for (int i = 0; i < files.GetItemCount(); ++i)
            nWidest = std::max(
                nWidest,
                files.itemDelegate()->sizeHint(option, files.model()->index(i, nColumn)).width());
        if (nColumn == 4)
            nWidest = std::max(nWidest, files.horizontalHeader()->sectionSizeHint(4));
        EXPECT_NEAR(files.columnWidth(nColumn), nWidest, 1) << "column " << nColumn;
    }
    EXPECT_EQ(files.columnWidth(0), 150);
    EXPECT_EQ(files.columnWidth(1), 200);

    // Dates that show nothing leave the header to decide.
    CFileList undated{Record("/x/a.doc", 5, {0.0, DateTimeStatus::null})};
    auto pUndated = Open(&undated);
    EXPECT_EQ(pUndated->GetFileList().columnWidth(4),
              pUndated->GetFileList().horizontalHeader()->sectionSizeHint(4));
}

TEST_F(DetailsDlgTest, NeverSmallerThanItOpenedAndTheMarginsHoldWhenEnlarged) {
    CFileList list{Record("/x/a.doc")};
    auto pDlg = Open(&list);
    pDlg->show();
    const QSize initial = pDlg->size();
    EXPECT_EQ(initial, QSize(DluToPixelsX(405), DluToPixelsY(321)));
    const auto expectLayout = [&pDlg] {
        const QSize client = pDlg->GetClientArea()->size();
        EXPECT_EQ(pDlg->GetFileList().geometry(),
                  QRect(5, 5, client.width() - 10, client.height() - 50));
        EXPECT_EQ(pDlg->GetCloseButton().geometry(),
                  QRect(client.width() - 86 - 5, client.height() - 28 - 10, 86, 28));
    };
    expectLayout();
    pDlg->resize(initial - QSize(120, 90));
    EXPECT_EQ(pDlg->size(), initial);
    pDlg->resize(initial + QSize(200, 150));
    EXPECT_EQ(pDlg->size(), initial + QSize(200, 150));
    expectLayout();

    const QImage client = pDlg->GetClientArea()->grab().toImage();
    EXPECT_EQ(client.pixelColor(2, client.height() - 2), QColor(210, 232, 253));

    QTest::mouseClick(&pDlg->GetCloseButton(), Qt::LeftButton);
    EXPECT_FALSE(pDlg->isVisible());
    EXPECT_EQ(pDlg->result(), IDCANCEL);
}

TEST_F(DetailsDlgTest, RecordsAddedWhileOpenAreNotShownAndDoNotDisturbIt) {
    CFileList list{Record("/x/b.doc", 2), Record("/x/a.pdf", 1), Record("/x/c.doc", 3)};
    auto pDlg = Open(&list);
    CListDetails& files = pDlg->GetFileList();
    // Enough to make the store allocate new blocks and reorganise its index.
    for (int i = 0; i < 20000; ++i)
        list.push_back(Record("/late/" + std::to_string(i) + ".mp3", i));
    for (const int nColumn : {0, 1, 2, 3, 4, 3})
        files.OnColumnClick(nColumn);
    files.selectAll();
    files.OnColumnClick(0);
    EXPECT_EQ(Column(files, 0), (std::vector<std::string>{"a.pdf", "b.doc", "c.doc"}));
    EXPECT_EQ(files.selectionModel()->selectedRows().size(), 3);
    EXPECT_EQ(std::count(m_types.m_arrAsked.begin(), m_types.m_arrAsked.end(), ".mp3"), 0);
    EXPECT_TRUE(list.back().m_strType.empty());
}

TEST_F(DetailsDlgTest, TheFirstSelectedRowIsScrolledIntoViewAfterASort) {
    CFileList list;
    for (int i = 0; i < 300; ++i) {
        char szName[32]; // room for any int, which the compiler cannot rule out
        std::snprintf(szName, sizeof szName, "/x/n%03d.doc", i);
        list.push_back(Record(szName, 300 - i));
    }
    auto pDlg = Open(&list);
    pDlg->show();
    CListDetails& files = pDlg->GetFileList();
    files.selectRow(0); // n000, the largest
    files.OnColumnClick(CListDetails::colSize);
    ASSERT_EQ(files.GetItemData(299), &list[0]);
    const QRect rcRow = files.visualRect(files.model()->index(299, 0));
    EXPECT_TRUE(files.viewport()->rect().contains(rcRow)) << "row at y " << rcRow.y();
}

// Enter is the default command, which never closes a skinned dialog; released on the
// focused Close it clicks Close, and Escape cancels.
TEST_F(DetailsDlgTest, OnlyCloseAndEscapeEndItEnterInTheListDoesNot) {
    CFileList list{Record("/x/a.doc"), Record("/x/b.doc")};
    const struct {
        bool bOnClose;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        bool bCloses;
    } arrCases[] = {
        {false, Qt::Key_Return, Qt::NoModifier, false},
        {false, Qt::Key_Enter, Qt::KeypadModifier, false},
        {true, Qt::Key_Return, Qt::NoModifier, true},
        {false, Qt::Key_Escape, Qt::NoModifier, true},
    };
    for (const auto& c : arrCases) {
        SCOPED_TRACE(testing::Message() << "key " << c.key << (c.bOnClose ? " on Close" : ""));
        auto pDlg = Open(&list);
        pDlg->show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(pDlg.get()));
        QWidget& target =
            c.bOnClose ? static_cast<QWidget&>(pDlg->GetCloseButton()) : pDlg->GetFileList();
        target.setFocus();
        ASSERT_TRUE(target.hasFocus());
        QTest::keyClick(&target, c.key, c.modifiers);
        ProcessPosted();
        EXPECT_EQ(pDlg->isVisible(), !c.bCloses);
        if (c.bCloses) {
            EXPECT_EQ(pDlg->result(), IDCANCEL);
        }
    }
}

TEST_F(DetailsDlgTest, HomeAndEndGoToTheFirstAndLastRow) {
    CFileList list;
    for (const char* psz : {"/x/a.doc", "/x/b.doc", "/x/c.doc", "/x/d.doc", "/x/e.doc"})
        list.push_back(Record(psz));
    auto pDlg = Open(&list);
    pDlg->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(pDlg.get()));
    CListDetails& files = pDlg->GetFileList();
    files.setFocus();
    files.setCurrentIndex(files.model()->index(2, 1));

    QTest::keyClick(&files, Qt::Key_End);
    EXPECT_EQ(files.currentIndex().row(), 4);
    EXPECT_EQ(files.selectionModel()->selectedRows().size(), 1);
    QTest::keyClick(&files, Qt::Key_Home);
    EXPECT_EQ(files.currentIndex().row(), 0);
    // Shift extends the selection to the end, as in any list.
    QTest::keyClick(&files, Qt::Key_End, Qt::ShiftModifier);
    EXPECT_EQ(files.currentIndex().row(), 4);
    EXPECT_EQ(files.selectionModel()->selectedRows().size(), 5);
}

TEST_F(DetailsDlgTest, ANameOrFolderCutShortShowsWholeInAToolTip) {
    const std::string strLongFolder = "/" + std::string(80, 'f') + "/<b>deep</b>";
    const std::string strLongName = std::string(60, 'n') + "\r\n.doc";
    CFileList list{Record(strLongFolder + "/" + strLongName), Record("/x/a.doc")};
    auto pDlg = Open(&list);
    pDlg->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(pDlg.get()));
    CListDetails& files = pDlg->GetFileList();
    const auto tipAt = [&files](int nRow, int nColumn) -> std::optional<std::string> {
        QToolTip::hideText();
        EXPECT_TRUE(QTest::qWaitFor([] { return !QToolTip::isVisible(); }, 3000));
        const QRect rc = files.visualRect(files.model()->index(nRow, nColumn));
        QHelpEvent help(QEvent::ToolTip, rc.center(), files.viewport()->mapToGlobal(rc.center()));
        QApplication::sendEvent(files.viewport(), &help);
        if (!QToolTip::isVisible())
            return std::nullopt;
        QTextDocument doc;
        doc.setHtml(QToolTip::text());
        return doc.toPlainText().toStdString();
    };
    const std::string strShown = std::string(60, 'n') + "\u240D\u240A.doc"; // as in the cell
    ASSERT_EQ(Column(files, 0)[1], strShown);
    EXPECT_EQ(tipAt(1, CListDetails::colName), strShown);
    EXPECT_EQ(tipAt(1, CListDetails::colPath), strLongFolder + "/"); // markup shown as text
    // What fits shows no tip, nor do the other columns.
    EXPECT_EQ(tipAt(0, CListDetails::colName), std::nullopt);
    EXPECT_EQ(tipAt(0, CListDetails::colPath), std::nullopt);
    EXPECT_EQ(tipAt(1, CListDetails::colSize), std::nullopt);
    // Widened until it fits, the name has no tip any more.
    files.setColumnWidth(CListDetails::colName, 2000);
    EXPECT_EQ(tipAt(1, CListDetails::colName), std::nullopt);
    QToolTip::hideText();
}

// A type name the service cannot give stays empty in the record, so every later look-up
// (a sort by Type, each Type cell painted) comes back to the list: it must still ask the
// service once per extension per opening.
TEST_F(DetailsDlgTest, TypesLookedUpAfterFillingAskTheServiceOncePerExtension) {
    class CNamelessTypes final : public IFileTypeInfo {
    public:
        FileTypeInfo GetFileTypeInfo(const std::string& strExtension) const override {
            m_arrAsked.push_back(strExtension);
            return {};
        }
        mutable std::vector<std::string> m_arrAsked;
    } types;
    CFileList list{Record("/x/a.zz"), Record("/x/b.zz"), Record("/x/c.yy"), Record("/x/d")};
    auto pDlg = std::make_unique<CDetailsDlg>(&list);
    pDlg->GetFileList().SetServices(&types, &m_dates);
    pDlg->Create();
    CListDetails& files = pDlg->GetFileList();
    EXPECT_TRUE(list[0].m_strType.empty());

    for (const int nColumn : {CListDetails::colType, CListDetails::colType, CListDetails::colName})
        files.OnColumnClick(nColumn);
    for (int i = 0; i < files.GetItemCount(); ++i)
        EXPECT_EQ(files.GetItemText(i, CListDetails::colType), QString());
    pDlg->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(pDlg.get()));
    files.viewport()->repaint();

    std::sort(types.m_arrAsked.begin(), types.m_arrAsked.end());
    EXPECT_EQ(types.m_arrAsked, (std::vector<std::string>{"", ".yy", ".zz"}));
}

TEST_F(DetailsDlgTest, NoListOpensEmpty) {
    auto pDlg = Open(nullptr);
    CListDetails& files = pDlg->GetFileList();
    EXPECT_EQ(files.GetItemCount(), 0);
    EXPECT_TRUE(m_types.m_arrAsked.empty());
    EXPECT_EQ(files.columnWidth(2), 45);
    EXPECT_EQ(files.columnWidth(4), 104);
    files.OnColumnClick(3);
    EXPECT_EQ(files.horizontalHeader()->sortIndicatorSection(), 3);
}

TEST(DesktopFileTypes, TypeNamesFromTheMimeDatabaseAndAlwaysAnIcon) {
    const CMimeFileTypes types;
    const FileTypeInfo pdf = types.GetFileTypeInfo(".pdf");
    EXPECT_FALSE(pdf.strTypeName.empty());
    EXPECT_EQ(types.GetFileTypeInfo(".PDF").strTypeName, pdf.strTypeName);
    EXPECT_FALSE(pdf.icon.isNull());
    EXPECT_FALSE(types.GetFileTypeInfo(".no-such-type-zq").icon.isNull());
    EXPECT_FALSE(types.GetFileTypeInfo("").icon.isNull());
    // The offscreen platform names no icon theme, as a session without a desktop does:
    // pictures and music still get their type's icon from an installed theme.
    if (!QFileInfo::exists(QStringLiteral("/usr/share/icons/Adwaita/index.theme")))
        GTEST_SKIP() << "no Adwaita icon theme installed";
    for (const char* pszExtension : {".jpg", ".mp3", ".mkv"})
        EXPECT_FALSE(types.GetFileTypeInfo(pszExtension).icon.name().isEmpty()) << pszExtension;
}

// The locale's own order and separators, but the year in four digits and the seconds
// shown: a short format's two-digit year and missing seconds lose what the file says.
TEST(DesktopFileTypes, DateAndTimeAsTheLocaleWritesThemInFull) {
    // Newer locale data puts a narrow no-break space before PM.
    const auto plainSpaces = [](std::string str) {
        for (std::size_t n; (n = str.find("\u202F")) != std::string::npos;)
            str.replace(n, 3, " ");
        return str;
    };
    const struct {
        QLocale locale;
        const char* pszDate;
        const char* pszTime;
    } arrCases[] = {
        {QLocale(QLocale::English, QLocale::UnitedStates), "6/6/2023", "3:04:05 PM"},
        {QLocale(QLocale::German, QLocale::Germany), "06.06.2023", "15:04:05"},
        {QLocale(QLocale::Swedish, QLocale::Sweden), "2023-06-06", "15:04:05"},
        {QLocale(QLocale::Japanese, QLocale::Japan), "2023/06/06",
         "15\u6642"
         "04\u5206"
         "05\u79D2"},
    };
    for (const auto& c : arrCases) {
        SCOPED_TRACE(c.locale.name().toStdString());
        const CLocaleDateFormat dates(c.locale);
        std::string strText;
        SYSTEMTIME st{2023, 6, 0, 6, 15, 4, 5, 0};
        ASSERT_TRUE(dates.FormatDate(st, strText));
        EXPECT_EQ(strText, c.pszDate);
        ASSERT_TRUE(dates.FormatTime(st, strText));
        EXPECT_EQ(plainSpaces(strText), c.pszTime);
        st.wDay = 31;
        st.wMonth = 2;
        EXPECT_FALSE(dates.FormatDate(st, strText));
    }
    // Years before 1000 keep four digits; the time's zone is never shown.
    const CLocaleDateFormat dates(QLocale(QLocale::English, QLocale::UnitedStates));
    std::string strText;
    ASSERT_TRUE(dates.FormatDate(SYSTEMTIME{987, 1, 0, 2, 0, 0, 0, 0}, strText));
    EXPECT_EQ(strText, "1/2/0987");
    ASSERT_TRUE(dates.FormatTime(SYSTEMTIME{2023, 1, 0, 2, 0, 0, 9, 0}, strText));
    EXPECT_EQ(plainSpaces(strText), "12:00:09 AM");
}

} // namespace
