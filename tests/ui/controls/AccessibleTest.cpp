#include "Accessible.h"
#include "BitmapButtonEx.h"
#include "HyperLink.h"
#include "StaticBanner.h"
#include "StaticEx.h"
#include "UiTestSupport.h"

#include <QAccessible>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <vector>

// Failures show the text rather than its bytes.
inline void PrintTo(const QString& str, std::ostream* pOs) {
    *pOs << '"' << str.toStdString() << '"';
}

namespace {

QAccessibleInterface* Describe(QWidget& widget) {
    QAccessibleInterface* pInterface = QAccessible::queryAccessibleInterface(&widget);
    EXPECT_NE(pInterface, nullptr) << widget.metaObject()->className();
    return pInterface;
}

bool HasAction(QAccessibleInterface* pInterface, const QString& strAction) {
    return pInterface->actionInterface() &&
           pInterface->actionInterface()->actionNames().contains(strAction);
}

// The names of a dialog's client area's children, as a reader meets them.
std::vector<QString> ReadingOrder(CBitmapDlg& dlg) {
    std::vector<QString> arrNames;
    QAccessibleInterface* pArea = Describe(*dlg.GetClientArea());
    for (int i = 0; i < pArea->childCount(); ++i) {
        QAccessibleInterface* pChild = pArea->child(i);
        arrNames.push_back(pChild->text(QAccessible::Name));
        EXPECT_EQ(pArea->indexOfChild(pChild), i);
        EXPECT_EQ(pChild->parent()->object(), dlg.GetClientArea());
    }
    return arrNames;
}

TEST(Accessible, MnemonicsAreNoPartOfANameButADoubledAmpersandIsOne) {
    EXPECT_EQ(StripMnemonic(QStringLiteral("&Start")), QStringLiteral("Start"));
    EXPECT_EQ(StripMnemonic(QStringLiteral("S&top")), QStringLiteral("Stop"));
    EXPECT_EQ(StripMnemonic(QStringLiteral("Fish && &Chips")), QStringLiteral("Fish & Chips"));
    EXPECT_EQ(StripMnemonic(QStringLiteral("End&")), QStringLiteral("End"));
    EXPECT_EQ(StripMnemonic(QString()), QString());
}

TEST(Accessible, ABitmapButtonIsAPushButtonNamedByItsTextAndPressedAsClicked) {
    CRecordingDlg dlg(IDD_MAIN, 0);
    CBitmapButtonEx start, details;
    dlg.m_fnBind = [&](CRecordingDlg& d) {
        d.Bind(IDC_START_PAUSE, start);
        d.Bind(IDC_DETAILS_DOCUMENTS, details);
    };
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg));

    QAccessibleInterface* pStart = Describe(start);
    EXPECT_EQ(pStart->role(), QAccessible::PushButton);
    EXPECT_EQ(pStart->text(QAccessible::Name), QStringLiteral("Start"));
    EXPECT_EQ(pStart->text(QAccessible::Accelerator), QKeySequence(Qt::ALT | Qt::Key_S).toString());
    start.setText(QStringLiteral("&Pause")); // the face changes, the name with it
    EXPECT_EQ(pStart->text(QAccessible::Name), QStringLiteral("Pause"));
    start.setFocus();
    EXPECT_TRUE(pStart->state().focused);
    EXPECT_TRUE(pStart->state().focusable);

    // Pressed through the interface it is clicked, as often as pressed, once the call has
    // returned (a click may open a modal window, whose loop must not run inside the
    // reader's call); disabled, never.
    ASSERT_TRUE(HasAction(pStart, QAccessibleActionInterface::pressAction()));
    EXPECT_EQ(pStart->actionInterface()->actionNames().first(),
              QAccessibleActionInterface::pressAction());
    pStart->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    pStart->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_TRUE(dlg.m_arrCommands.empty());
    ProcessPosted();
    EXPECT_EQ(dlg.m_arrCommands, std::vector<UINT>({IDC_START_PAUSE, IDC_START_PAUSE}));
    start.setEnabled(false);
    EXPECT_TRUE(pStart->state().disabled);
    pStart->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    ProcessPosted();
    EXPECT_EQ(dlg.m_arrCommands.size(), 2u);
    // Disabled between the press and its click: no click either, as for the mouse.
    start.setEnabled(true);
    pStart->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    start.setEnabled(false);
    ProcessPosted();
    EXPECT_EQ(dlg.m_arrCommands.size(), 2u);

    // Without a text the window names it; the tool tip describes it.
    QAccessibleInterface* pDetails = Describe(details);
    EXPECT_TRUE(pDetails->text(QAccessible::Name).isEmpty());
    details.setAccessibleName(QStringLiteral("Get Details: Documents"));
    details.m_strToolTip = "Get Details";
    EXPECT_EQ(pDetails->text(QAccessible::Name), QStringLiteral("Get Details: Documents"));
    EXPECT_EQ(pDetails->text(QAccessible::Description), QStringLiteral("Get Details"));
    EXPECT_TRUE(pDetails->state().disabled); // the template's state
}

TEST(Accessible, AValueTextSaysWhatItCountsAndReadsItsTextAsValue) {
    CStaticEx text;
    text.setText(QStringLiteral("-"));
    QAccessibleInterface* pText = Describe(text);
    EXPECT_EQ(pText->role(), QAccessible::StaticText);
    EXPECT_EQ(pText->text(QAccessible::Name), QStringLiteral("-")); // unnamed: its text

    text.setAccessibleName(QStringLiteral("Documents size"));
    text.SetText(QStringLiteral("1.50 MB"));
    EXPECT_EQ(text.text(), QStringLiteral("1.50 MB"));
    EXPECT_EQ(pText->text(QAccessible::Name), QStringLiteral("Documents size"));
    EXPECT_EQ(pText->text(QAccessible::Value), QStringLiteral("1.50 MB"));
    EXPECT_TRUE(pText->state().readOnly);

    ASSERT_NE(pText->valueInterface(), nullptr);
    EXPECT_EQ(pText->valueInterface()->currentValue().toString(), QStringLiteral("1.50 MB"));
    QAccessibleTextInterface* pRead = pText->textInterface();
    ASSERT_NE(pRead, nullptr);
    EXPECT_EQ(pRead->characterCount(), 7);
    EXPECT_EQ(pRead->text(0, -1), QStringLiteral("1.50 MB"));
    EXPECT_EQ(pRead->text(5, 7), QStringLiteral("MB"));
    EXPECT_EQ(pRead->text(5, 99), QStringLiteral("MB"));
    EXPECT_EQ(pRead->text(9, 3), QString());
    int nStart = -1, nEnd = -1;
    pRead->attributes(2, &nStart, &nEnd);
    EXPECT_EQ(nStart, 0);
    EXPECT_EQ(nEnd, 7);

    // Characters lie left to right where the label draws them, and back again; a point
    // beside the text, on either side, is on no character.
    text.resize(200, 20);
    const QRect rc0 = pRead->characterRect(0), rc5 = pRead->characterRect(5);
    const QRect rc6 = pRead->characterRect(6);
    ASSERT_FALSE(rc0.isEmpty());
    EXPECT_LT(rc0.left(), rc5.left());
    EXPECT_TRUE(pRead->characterRect(7).isEmpty());
    const struct {
        const char* pszWhere;
        QPoint pt;
        int nOffset;
    } arrPoints[] = {
        {"on the first character", rc0.center(), 0},
        {"at the first character's left edge", QPoint(rc0.left(), rc0.center().y()), 0},
        {"on the sixth", rc5.center(), 5},
        {"at the last's right edge", QPoint(rc6.right(), rc6.center().y()), 6},
        {"left of the text", QPoint(rc0.left() - 1, rc0.center().y()), -1},
        {"far left of the label", text.mapToGlobal(QPoint(-50, 10)), -1},
        {"right of the text", QPoint(rc6.right() + 1, rc6.center().y()), -1},
    };
    for (const auto& c : arrPoints)
        EXPECT_EQ(pRead->offsetAtPoint(c.pt), c.nOffset) << c.pszWhere;
}

TEST(Accessible, AQuestionMarkIsALinkDescribedByItsToolTipAndPressedAsClicked) {
    CRecordingDlg dlg(IDD_MAIN, 0);
    CHyperLink link;
    dlg.m_fnBind = [&](CRecordingDlg& d) { d.Bind(IDC_LINK_MUSIC, link); };
    dlg.Create();
    link.m_strToolTip = "*.mp3; *.wav";
    link.setAccessibleName(QStringLiteral("Music extensions"));

    QAccessibleInterface* pLink = Describe(link);
    EXPECT_EQ(pLink->role(), QAccessible::Link);
    EXPECT_EQ(pLink->text(QAccessible::Name), QStringLiteral("Music extensions"));
    EXPECT_EQ(pLink->text(QAccessible::Description), QStringLiteral("*.mp3; *.wav"));
    EXPECT_TRUE(pLink->state().linked);
    EXPECT_FALSE(pLink->state().traversed);

    ASSERT_TRUE(HasAction(pLink, QAccessibleActionInterface::pressAction()));
    pLink->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    ProcessPosted();
    ASSERT_EQ(dlg.m_arrMessages.size(), 1u);
    EXPECT_EQ(dlg.m_arrMessages[0].nMsg, WM_LINKCLICKED);
    EXPECT_EQ(dlg.m_arrMessages[0].lParam, HandleOf(&link));
    EXPECT_TRUE(pLink->state().traversed);
    link.setEnabled(false); // a disabled link is not there to be pressed
    pLink->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    ProcessPosted();
    EXPECT_EQ(dlg.m_arrMessages.size(), 1u);
}

TEST(Accessible, ABannerIsALinkNamedByItsToolTipThatOpensItsPageWhenPressed) {
    CRecordingDlg dlg(IDD_MAIN, 0);
    CStaticBanner banner;
    dlg.m_fnBind = [&](CRecordingDlg& d) { d.Bind(IDC_BANNER, banner); };
    dlg.Create();
    banner.m_strToolTip = "Quenby";
    banner.m_strUrl = "https://example.org/offer";
    banner.setAccessibleDescription(QStringLiteral("Keep your files safe"));

    QAccessibleInterface* pBanner = Describe(banner);
    EXPECT_EQ(pBanner->role(), QAccessible::Link);
    EXPECT_EQ(pBanner->text(QAccessible::Name), QStringLiteral("Quenby"));
    EXPECT_EQ(pBanner->text(QAccessible::Description), QStringLiteral("Keep your files safe"));
    EXPECT_EQ(pBanner->text(QAccessible::Value), QStringLiteral("https://example.org/offer"));

    OpenedUrls().clear();
    pBanner->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    ProcessPosted();
    EXPECT_EQ(OpenedUrls(), std::vector<std::string>({"https://example.org/offer"}));
    ASSERT_EQ(dlg.m_arrMessages.size(), 1u);
    EXPECT_EQ(dlg.m_arrMessages[0].nMsg, WM_BANNERCLICKED);
}

// A modal window keeps the mouse and keys from the windows below it; a reader's presses
// there do nothing either, while the modal window's own controls and the windows it owns
// still take them.
TEST(Accessible, APressOnAWindowThatAModalWindowBlocksDoesNothing) {
    CRecordingDlg below(IDD_MAIN, 0);
    CBitmapButtonEx close;
    CHyperLink link;
    CStaticBanner banner;
    below.m_fnBind = [&](CRecordingDlg& d) {
        d.Bind(IDCANCEL, close);
        d.Bind(IDC_LINK_MUSIC, link);
        d.Bind(IDC_BANNER, banner);
    };
    below.m_bKeepOpenOnCancel = true;
    below.show();
    banner.m_strUrl = "https://example.org/offer";

    CRecordingDlg modal(IDD_FINISH, 0, &below);
    CBitmapButtonEx modalClose;
    modal.m_fnBind = [&](CRecordingDlg& d) { d.Bind(IDCANCEL, modalClose); };
    modal.m_bKeepOpenOnCancel = true;
    modal.setWindowModality(Qt::ApplicationModal);
    modal.show();
    ASSERT_EQ(QApplication::activeModalWidget(), &modal);
    QWidget owned(&modal, Qt::Window); // a window the modal one owns (a tool tip, say)
    CBitmapButtonEx ownedButton(&owned);
    owned.show();

    OpenedUrls().clear();
    const auto press = [](QWidget& w) {
        QAccessible::queryAccessibleInterface(&w)->actionInterface()->doAction(
            QAccessibleActionInterface::pressAction());
    };
    for (QWidget* pBlocked : std::initializer_list<QWidget*>{&close, &link, &banner})
        press(*pBlocked);
    QSignalSpy ownedClicked(&ownedButton, &QAbstractButton::clicked);
    press(modalClose);
    press(ownedButton);
    ProcessPosted();
    EXPECT_TRUE(below.m_arrCommands.empty());
    EXPECT_TRUE(below.m_arrMessages.empty());
    EXPECT_TRUE(OpenedUrls().empty());
    EXPECT_FALSE(link.IsVisited());
    EXPECT_EQ(modal.m_arrCommands, std::vector<UINT>({IDCANCEL}));
    EXPECT_EQ(ownedClicked.count(), 1);

    // Blocked between the press and its click: no click.
    modal.hide();
    press(close);
    modal.show();
    ProcessPosted();
    EXPECT_TRUE(below.m_arrCommands.empty());
    // Once the modal window has gone, the same presses work.
    modal.hide();
    press(close);
    press(link);
    press(banner);
    ProcessPosted();
    EXPECT_EQ(below.m_arrCommands, std::vector<UINT>({IDCANCEL}));
    EXPECT_EQ(below.m_arrMessages.size(), 2u); // the link's and the banner's
    EXPECT_EQ(OpenedUrls(), std::vector<std::string>({"https://example.org/offer"}));
}

// A text of a dialog's picture: its name and where the picture shows it.
struct PictureItem {
    const char* pszName;
    QRect rc;
};

// A dialog with these picture texts, and its two buttons below them.
class CPictureDlg {
public:
    CPictureDlg(const std::vector<PictureItem>& arrItems, int nButtonsY) {
        m_dlg.m_fnBind = [this](CRecordingDlg& d) {
            d.Bind(IDYES, m_yes);
            d.Bind(IDNO, m_no);
        };
        m_dlg.m_fnSetup = [&arrItems, nButtonsY, this](CRecordingDlg& d) {
            for (const PictureItem& item : arrItems)
                d.AddPictureText(item.rc, QString::fromUtf8(item.pszName));
            m_yes.setGeometry(160, nButtonsY, 86, 28);
            m_no.setGeometry(250, nButtonsY - 2, 86, 28);
        };
        m_dlg.Create();
    }
    CRecordingDlg& Dlg() { return m_dlg; }

private:
    CRecordingDlg m_dlg{IDD_NOT_SUPPORTED, 0};
    CBitmapButtonEx m_yes, m_no;
};

// A line starts at the topmost widget left; a widget belongs to it when its centre, not
// its top, lies within that widget's height; a line reads left to right.
TEST(Accessible, ReadingOrderGoesLineByLineByEachWidgetsCentre) {
    const struct {
        const char* pszCase;
        std::vector<PictureItem> arrItems;
        std::vector<QString> arrOrder;
    } arrCases[] = {
        {"below, above, beside",
         {{"Body", {20, 90, 300, 40}}, {"Heading", {60, 50, 200, 24}}, {"Sign", {10, 52, 40, 40}}},
         {"Sign", "Heading", "Body"}},
        {"a taller widget further left, whose centre is below the line, starts the next",
         {{"Right", {100, 50, 40, 20}}, {"Left", {10, 60, 40, 40}}},
         {"Right", "Left"}},
        {"beside a tall one, and below its middle",
         {{"Tall", {10, 50, 40, 60}}, {"Beside", {100, 55, 80, 20}}, {"Below", {5, 102, 80, 20}}},
         {"Tall", "Beside", "Below"}},
        {"one line of three out of order",
         {{"C", {200, 52, 20, 16}}, {"A", {0, 50, 20, 20}}, {"B", {100, 48, 20, 24}}},
         {"A", "B", "C"}},
    };
    for (const auto& c : arrCases) {
        SCOPED_TRACE(c.pszCase);
        CPictureDlg dlg(c.arrItems, 400);
        std::vector<QString> arrOrder = c.arrOrder;
        arrOrder.insert(arrOrder.end(), {QStringLiteral("Continue"), QStringLiteral("Cancel")});
        EXPECT_EQ(ReadingOrder(dlg.Dlg()), arrOrder);
    }
}

// A picture's text is a label and nothing else: no mouse, no focus.
TEST(Accessible, APicturesTextIsALabelThatTakesNeitherMouseNorFocus) {
    CPictureDlg dlg({{"Heading", {60, 50, 200, 24}}}, 160);
    QAccessibleInterface* pHeading = Describe(*dlg.Dlg().GetClientArea())->child(0);
    EXPECT_EQ(pHeading->text(QAccessible::Name), QStringLiteral("Heading"));
    EXPECT_EQ(pHeading->role(), QAccessible::StaticText);
    EXPECT_FALSE(pHeading->state().focusable);
    auto* pWidget = qobject_cast<QWidget*>(pHeading->object());
    ASSERT_NE(pWidget, nullptr);
    EXPECT_TRUE(pWidget->testAttribute(Qt::WA_TransparentForMouseEvents));
    EXPECT_EQ(pWidget->geometry(), QRect(60, 50, 200, 24));
}

} // namespace
