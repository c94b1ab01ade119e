// The windows as a screen reader finds them: every control with its role and a name that
// says what it is, the values as they change, the pictures' texts, and the details list
// as a table under its column headers.
#include "DetailsDlg.h"
#include "FinishDlg.h"
#include "MainDlg.h"
#include "NotSupportedPlatformDlg.h"
#include "PictureTexts.h"
#include "ScanControl.h"
#include "StringTable.h"
#include "UiTestSupport.h"

#include <QAccessible>
#include <QApplication>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <optional>
#include <vector>

// Failures show the text rather than its bytes.
inline void PrintTo(const QString& str, std::ostream* pOs) {
    *pOs << '"' << str.toStdString() << '"';
}

namespace {

struct Seen {
    QString strName;
    QAccessible::Role role;
    QString strValue;

    bool operator==(const Seen&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Seen& seen) {
    return os << "{" << seen.strName.toStdString() << ", role " << seen.role << ", \""
              << seen.strValue.toStdString() << "\"}";
}

// The client area's children in the order a reader meets them.
std::vector<Seen> Read(const CBitmapDlg& dlg) {
    std::vector<Seen> arrSeen;
    QAccessibleInterface* pArea = QAccessible::queryAccessibleInterface(dlg.GetClientArea());
    for (int i = 0; i < pArea->childCount(); ++i) {
        QAccessibleInterface* pChild = pArea->child(i);
        arrSeen.push_back(
            {pChild->text(QAccessible::Name), pChild->role(), pChild->text(QAccessible::Value)});
    }
    return arrSeen;
}

QAccessibleInterface* Find(const CBitmapDlg& dlg, const QString& strName) {
    QAccessibleInterface* pArea = QAccessible::queryAccessibleInterface(dlg.GetClientArea());
    for (int i = 0; i < pArea->childCount(); ++i)
        if (pArea->child(i)->text(QAccessible::Name) == strName)
            return pArea->child(i);
    ADD_FAILURE() << "nothing is named " << strName.toStdString();
    return nullptr;
}

QString Q(const char* psz) {
    return QString::fromUtf8(psz);
}

constexpr auto kButton = QAccessible::PushButton;
constexpr auto kText = QAccessible::StaticText;
constexpr auto kLink = QAccessible::Link;

TEST(Accessibility, TheMainWindowNamesEveryControlAndReadsItsValuesInReadingOrder) {
    CMainDlg dlg;
    dlg.Create();
    QAccessibleInterface* pWindow = QAccessible::queryAccessibleInterface(&dlg);
    EXPECT_EQ(pWindow->role(), QAccessible::Dialog);
    EXPECT_EQ(pWindow->text(QAccessible::Name), QStringLiteral("Quenby"));

    std::vector<Seen> arrExpected{
        {Q(kMainHeading), kText, {}},
        {Q(kMainIntro), kText, {}},
        {QStringLiteral("Quenby"), kLink, Q(LoadString(IDS_OFFER_URL).c_str())}};
    for (const char* pszGroup : {"Documents", "Images", "Music", "Video"}) {
        const QString strGroup = Q(pszGroup);
        arrExpected.push_back({strGroup + " extensions", kLink, {}});
        arrExpected.push_back({strGroup + " files", kText, QStringLiteral("-")});
        arrExpected.push_back({strGroup + " size", kText, QStringLiteral("-")});
        arrExpected.push_back({"Get Details: " + strGroup, kButton, {}});
    }
    arrExpected.push_back({QStringLiteral("Scan progress"), QAccessible::ProgressBar,
                           QAccessible::queryAccessibleInterface(dlg.GetDlgItem(IDC_PROGRESS))
                               ->text(QAccessible::Value)});
    arrExpected.push_back({QStringLiteral("Total files"), kText, QStringLiteral("-")});
    arrExpected.push_back({QStringLiteral("Total size"), kText, QStringLiteral("-")});
    arrExpected.push_back({QStringLiteral("Start"), kButton, {}});
    arrExpected.push_back({QStringLiteral("Stop"), kButton, {}});
    arrExpected.push_back({QStringLiteral("Close"), kButton, {}});
    EXPECT_EQ(Read(dlg), arrExpected);

    // What the eye gets from tool tips and the pictures, the reader gets as descriptions.
    EXPECT_EQ(Find(dlg, QStringLiteral("Music extensions"))->text(QAccessible::Description),
              Q(LoadString(IDS_FILTER_MUSIC).c_str()));
    EXPECT_EQ(Find(dlg, QStringLiteral("Quenby"))->text(QAccessible::Description),
              Q(kMainBannerTitle) + ". " + kMainBannerText);
    EXPECT_TRUE(Find(dlg, QStringLiteral("Get Details: Video"))->state().disabled);
    EXPECT_TRUE(Find(dlg, QStringLiteral("Stop"))->state().disabled);
    EXPECT_FALSE(Find(dlg, QStringLiteral("Start"))->state().disabled);

    // Found files change the values, not the names.
    FileProperty image;
    image.m_strPath = "/data/a.jpg";
    image.m_nSize = 1536;
    SendMessage(dlg.GetSafeHwnd(), WM_FILEFOUND, reinterpret_cast<WPARAM>("Images"),
                reinterpret_cast<LPARAM>(&image));
    EXPECT_EQ(Find(dlg, QStringLiteral("Images files"))->text(QAccessible::Value),
              QStringLiteral("1"));
    EXPECT_EQ(Find(dlg, QStringLiteral("Images size"))->text(QAccessible::Value),
              QStringLiteral("1.50 KB"));
    EXPECT_EQ(Find(dlg, QStringLiteral("Total size"))->textInterface()->text(0, -1),
              QStringLiteral("1.50 KB"));
    EXPECT_EQ(Find(dlg, QStringLiteral("Music files"))->text(QAccessible::Value),
              QStringLiteral("-"));
}

TEST(Accessibility, AGroupsDetailsAreATableNamedByTheGroupWithColumnHeaders) {
    CMainDlg dlg;
    dlg.Create();
    FileProperty image;
    image.m_strPath = "/data/holiday.jpg";
    image.m_nSize = 2048;
    SendMessage(dlg.GetSafeHwnd(), WM_FILEFOUND, reinterpret_cast<WPARAM>("Images"),
                reinterpret_cast<LPARAM>(&image));
    dlg.GetDlgItem(IDC_DETAILS_IMAGES)->setEnabled(true); // as after the scan

    struct Table {
        QString strName;
        QAccessible::Role role = QAccessible::NoRole;
        int nRows = 0;
        std::vector<QString> arrHeaders;
        QString strFirstCell;
        QString strCloseName;
    };
    std::optional<Table> table;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&table] {
        auto* pDetails = dynamic_cast<CDetailsDlg*>(QApplication::activeModalWidget());
        if (!pDetails)
            return;
        QAccessibleInterface* pList =
            QAccessible::queryAccessibleInterface(&pDetails->GetFileList());
        Table seen;
        seen.strName = pList->text(QAccessible::Name);
        seen.role = pList->role();
        if (QAccessibleTableInterface* pTable = pList->tableInterface()) {
            seen.nRows = pTable->rowCount();
            for (int c = 0; c < pTable->columnCount(); ++c)
                seen.arrHeaders.push_back(pTable->columnDescription(c));
            // (Not the cell's columnHeaderCells: Qt 6.4 hands out a header there that
            // nobody frees; the column descriptions are the same headers.)
            if (QAccessibleInterface* pCell = pTable->cellAt(0, 0))
                seen.strFirstCell = pCell->text(QAccessible::Name);
        }
        seen.strCloseName = QAccessible::queryAccessibleInterface(&pDetails->GetCloseButton())
                                ->text(QAccessible::Name);
        table = seen;
        pDetails->reject();
    });
    watch.start(5);
    // Opened as a reader opens it: through the button's press action, which returns
    // before the window opens.
    QAccessible::queryAccessibleInterface(dlg.GetDlgItem(IDC_DETAILS_IMAGES))
        ->actionInterface()
        ->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_FALSE(table.has_value());
    ASSERT_TRUE(QTest::qWaitFor([&table] { return table.has_value(); }, 5000))
        << "no details window opened";
    EXPECT_EQ(table->strName, QStringLiteral("Images"));
    EXPECT_EQ(table->role, QAccessible::Table);
    EXPECT_EQ(table->nRows, 1);
    EXPECT_EQ(table->arrHeaders,
              (std::vector<QString>{"Name", "Path", "Type", "Size", "Date Modified"}));
    EXPECT_EQ(table->strFirstCell, QStringLiteral("holiday.jpg"));
    EXPECT_EQ(table->strCloseName, QStringLiteral("Close"));
}

TEST(Accessibility, TheFinishWindowReadsItsPictureTheResultsTheBannerAndClose) {
    CFinishDlg dlg("1234 files", "5.67 GB");
    dlg.Create();
    EXPECT_EQ(QAccessible::queryAccessibleInterface(&dlg)->text(QAccessible::Name),
              QStringLiteral("Quenby"));
    EXPECT_EQ(Read(dlg),
              (std::vector<Seen>{
                  {Q(kFinishHeading), kText, {}},
                  {Q(kFinishCountCaption), kText, QStringLiteral("1234 files")},
                  {Q(kFinishSizeCaption), kText, QStringLiteral("5.67 GB")},
                  {Q(kFinishQuestion), kText, {}},
                  {Q(kFinishBody), kText, {}},
                  {QStringLiteral("Quenby"), kLink, Q(LoadString(IDS_OFFER_URL).c_str())},
                  {QStringLiteral("Close"), kButton, {}},
              }));
    EXPECT_EQ(Find(dlg, QStringLiteral("Quenby"))->text(QAccessible::Description),
              Q(kFinishBannerTitle) + ". " + kFinishBannerText);
}

TEST(Accessibility, ThePlatformWarningReadsItsPictureThenContinueAndCancel) {
    CNotSupportedPlatformDlg dlg;
    dlg.Create();
    EXPECT_EQ(QAccessible::queryAccessibleInterface(&dlg)->text(QAccessible::Name),
              QStringLiteral("Quenby"));
    EXPECT_EQ(Read(dlg), (std::vector<Seen>{
                             {Q(kPlatformHeading), kText, {}},
                             {Q(kPlatformText), kText, {}},
                             {QStringLiteral("Continue"), kButton, {}},
                             {QStringLiteral("Cancel"), kButton, {}},
                         }));
}

} // namespace
