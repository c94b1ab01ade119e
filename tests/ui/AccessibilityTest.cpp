// The windows as a screen reader finds them: every control with its role and a name that
// says what it is, the values as they change, the pictures' texts, and the details list
// as a table under its column headers.
#include "Accessible.h"
#include "DetailsDlg.h"
#include "DialogTemplates.h"
#include "FinishDlg.h"
#include "MainDlg.h"
#include "NotSupportedPlatformDlg.h"
#include "ScanControl.h"
#include "StringTable.h"
#include "UiTestSupport.h"

#include <QAccessible>
#include <QApplication>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <optional>
#include <set>
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

    // Every text of the picture is read where it is drawn: a group's note, left on the
    // line of its size, before the group's controls; the totals' note before their size.
    const auto picture = [](UINT nId) { return Seen{Q(LoadString(nId).c_str()), kText, {}}; };
    std::vector<Seen> arrExpected{
        picture(IDS_PICTURE_MAIN_TAGLINE),
        picture(IDS_PICTURE_MAIN_HEADING),
        picture(IDS_PICTURE_MAIN_INTRO),
        {QStringLiteral("Quenby"), kLink, Q(LoadString(IDS_OFFER_URL).c_str())},
        picture(IDS_PICTURE_MAIN_CAPTION)};
    const UINT arrNotes[] = {IDS_PICTURE_MAIN_NOTE_DOCUMENTS, IDS_PICTURE_MAIN_NOTE_IMAGES,
                             IDS_PICTURE_MAIN_NOTE_MUSIC, IDS_PICTURE_MAIN_NOTE_VIDEO};
    const UINT* pNote = arrNotes;
    for (const char* pszGroup : {"Documents", "Images", "Music", "Video"}) {
        const QString strGroup = Q(pszGroup);
        arrExpected.push_back(picture(*pNote++));
        arrExpected.push_back({strGroup + " extensions", kLink, {}});
        arrExpected.push_back({strGroup + " files", kText, QStringLiteral("-")});
        arrExpected.push_back({strGroup + " size", kText, QStringLiteral("-")});
        arrExpected.push_back({"Get Details: " + strGroup, kButton, {}});
    }
    arrExpected.push_back({QStringLiteral("Scan progress"), QAccessible::ProgressBar,
                           QAccessible::queryAccessibleInterface(dlg.GetDlgItem(IDC_PROGRESS))
                               ->text(QAccessible::Value)});
    arrExpected.push_back({QStringLiteral("Total files"), kText, QStringLiteral("-")});
    arrExpected.push_back(picture(IDS_PICTURE_MAIN_NOTE_TOTAL));
    arrExpected.push_back({QStringLiteral("Total size"), kText, QStringLiteral("-")});
    arrExpected.push_back({QStringLiteral("Start"), kButton, {}});
    arrExpected.push_back({QStringLiteral("Stop"), kButton, {}});
    arrExpected.push_back({QStringLiteral("Close"), kButton, {}});
    EXPECT_EQ(Read(dlg), arrExpected);

    // What the eye gets from tool tips and the pictures, the reader gets as descriptions.
    EXPECT_EQ(Find(dlg, QStringLiteral("Music extensions"))->text(QAccessible::Description),
              Q(LoadString(IDS_FILTER_MUSIC).c_str()));
    EXPECT_EQ(Find(dlg, QStringLiteral("Quenby"))->text(QAccessible::Description),
              Q(LoadString(IDS_PICTURE_MAIN_BANNER_TITLE).c_str()) + ". " +
                  LoadString(IDS_PICTURE_MAIN_BANNER_TEXT).c_str());
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
                  {Q(LoadString(IDS_PICTURE_FINISH_HEADING).c_str()), kText, {}},
                  {Q(LoadString(IDS_PICTURE_FINISH_COUNT_CAPTION).c_str()), kText,
                   QStringLiteral("1234 files")},
                  {Q(LoadString(IDS_PICTURE_FINISH_SIZE_CAPTION).c_str()), kText,
                   QStringLiteral("5.67 GB")},
                  {Q(LoadString(IDS_PICTURE_FINISH_QUESTION).c_str()), kText, {}},
                  {Q(LoadString(IDS_PICTURE_FINISH_BODY).c_str()), kText, {}},
                  {QStringLiteral("Quenby"), kLink, Q(LoadString(IDS_OFFER_URL).c_str())},
                  {QStringLiteral("Close"), kButton, {}},
              }));
    EXPECT_EQ(Find(dlg, QStringLiteral("Quenby"))->text(QAccessible::Description),
              Q(LoadString(IDS_PICTURE_FINISH_BANNER_TITLE).c_str()) + ". " +
                  LoadString(IDS_PICTURE_FINISH_BANNER_TEXT).c_str());
}

TEST(Accessibility, ThePlatformWarningReadsItsPictureThenContinueAndCancel) {
    CNotSupportedPlatformDlg dlg;
    dlg.Create();
    EXPECT_EQ(QAccessible::queryAccessibleInterface(&dlg)->text(QAccessible::Name),
              QStringLiteral("Quenby"));
    EXPECT_EQ(Read(dlg), (std::vector<Seen>{
                             {Q(LoadString(IDS_PICTURE_PLATFORM_HEADING).c_str()), kText, {}},
                             {Q(LoadString(IDS_PICTURE_PLATFORM_TEXT).c_str()), kText, {}},
                             {QStringLiteral("Continue"), kButton, {}},
                             {QStringLiteral("Cancel"), kButton, {}},
                         }));
}

// What the windows' templates and the string table say, the texts a reader may hear:
// every entry (without its mnemonic), every format of the table filled with entries, and
// the template items' texts.
std::set<QString> TextsOfTheResources() {
    std::vector<std::string> arrEntries;
    std::vector<UINT> arrFormats;
    for (UINT nId = 1; nId < 1000; ++nId) {
        const std::string str = LoadString(nId);
        if (str.empty())
            continue;
        arrEntries.push_back(str);
        if (str.find("%s") != std::string::npos)
            arrFormats.push_back(nId);
    }
    std::set<QString> setTexts;
    for (const std::string& str : arrEntries)
        setTexts.insert(StripMnemonic(Q(str.c_str())));
    for (UINT nFormat : arrFormats)
        for (const std::string& a : arrEntries)
            for (const std::string& b : arrEntries)
                setTexts.insert(Q(FormatString(nFormat, {a, b}).c_str()));
    for (UINT nTemplate : {IDD_MAIN, IDD_FINISH, IDD_NOT_SUPPORTED, IDD_DETAILS})
        for (const DialogItem& item : FindDialogTemplate(nTemplate)->arrItems)
            setTexts.insert(StripMnemonic(
                QString::fromUtf8(item.strText.data(), qsizetype(item.strText.size()))));
    return setTexts;
}

// Names and descriptions, which say what a control is; values (counts, sizes, file names)
// are what the scan found.
void ExpectEveryNameFromTheResources(QAccessibleInterface* pInterface,
                                     const std::set<QString>& setTexts) {
    for (QAccessible::Text t : {QAccessible::Name, QAccessible::Description}) {
        const QString str = pInterface->text(t);
        EXPECT_TRUE(str.isEmpty() || setTexts.count(str))
            << "heard \"" << str.toStdString() << "\", a text of no resource";
    }
    if (pInterface->role() == QAccessible::Table)
        return; // its cells are the files
    for (int i = 0; i < pInterface->childCount(); ++i)
        ExpectEveryNameFromTheResources(pInterface->child(i), setTexts);
}

TEST(Accessibility, EveryNameAndDescriptionAReaderHearsComesFromTheResources) {
    const std::set<QString> setTexts = TextsOfTheResources();
    CMainDlg main;
    CFinishDlg finish("5 files", "5.00 MB");
    CNotSupportedPlatformDlg platform;
    CFileList list(1);
    list.front().m_strPath = "/data/a.doc";
    CDetailsDlg details(&list);
    details.GetFileList().setAccessibleName(
        QStringLiteral("Documents")); // as the main window names it
    for (CBitmapDlg* pDlg :
         std::initializer_list<CBitmapDlg*>{&main, &finish, &platform, &details}) {
        SCOPED_TRACE(pDlg->metaObject()->className());
        pDlg->Create();
        ExpectEveryNameFromTheResources(QAccessible::queryAccessibleInterface(pDlg), setTexts);
    }
    QAccessibleTableInterface* pTable =
        QAccessible::queryAccessibleInterface(&details.GetFileList())->tableInterface();
    ASSERT_NE(pTable, nullptr);
    for (int c = 0; c < pTable->columnCount(); ++c)
        EXPECT_TRUE(setTexts.count(pTable->columnDescription(c))) << c;
}

} // namespace
