#include "Foreground.h"
#include "DetailsDlg.h"
#include "FinishDlg.h"
#include "ForegroundPlatform.h"
#include "LogTestSupport.h"
#include "SingleInstance.h"
#include "UiTestSupport.h"

#include <QApplication>
#include <QTest>

#include <gtest/gtest.h>

namespace {

std::uint32_t IdOf(QWidget& wnd) {
    return static_cast<std::uint32_t>(wnd.winId());
}

// Records what the listener asks of the desktop; NeedsActivationToken as on Wayland
// when asked for.
class CFakePlatform final : public IForegroundPlatform {
public:
    bool NeedsActivationToken() const override { return bNeedsToken; }
    void AskForAttention(QWidget& wnd) override { arrAsked.push_back(&wnd); }

    bool bNeedsToken = false;
    std::vector<QWidget*> arrAsked;
};

struct ActivationFixture : ::testing::Test {
    void SetUp() override {
        ASSERT_EQ(OpenInstanceSection(folder.Path()).state, InstanceState::First);
        auto pFake = std::make_unique<CFakePlatform>();
        pPlatform = pFake.get();
        pListener =
            std::make_unique<CActivationListener>([this] { return &main; }, std::move(pFake));
        for (QWidget* pWnd : {&main, &other}) {
            pWnd->resize(200, 100);
            pWnd->show();
            ASSERT_TRUE(QTest::qWaitForWindowExposed(pWnd));
        }
        other.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    }
    void TearDown() override {
        pListener.reset();
        CloseInstanceSection();
        qunsetenv("XDG_ACTIVATION_TOKEN");
    }

    // Sends the request as a later start would and lets the listener take it.
    void Request(std::uint32_t nWindowId, const std::string& strToken = {}) {
        ASSERT_TRUE(RequestActivation(folder.Path(), {nWindowId, strToken}));
        QTest::qWait(50);
    }

    CScratchFolder folder;
    std::unique_ptr<CActivationListener> pListener;
    CFakePlatform* pPlatform = nullptr;
    QWidget main, other;
};

TEST_F(ActivationFixture, ALaterStartBringsThePublishedWindowForward) {
    Request(IdOf(main), "launcher_TIME42");
    EXPECT_TRUE(QTest::qWaitForWindowActive(&main));
    EXPECT_EQ(qgetenv("XDG_ACTIVATION_TOKEN"), "launcher_TIME42");
    // Activated: nothing else to ask for.
    QTest::qWait(400);
    EXPECT_TRUE(pPlatform->arrAsked.empty());

    // A hidden window is shown again.
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    main.hide();
    Request(IdOf(main));
    EXPECT_TRUE(main.isVisible());
    EXPECT_TRUE(QTest::qWaitForWindowActive(&main));
}

// A later start while the finish or details window is open over the main window: that
// window is the one the user can use, so it is the one brought forward.
TEST_F(ActivationFixture, AModalWindowOpenOverThePublishedOneIsBroughtForwardInstead) {
    CFinishDlg finish("5 files", "1.00 MB", &main);
    CDetailsDlg details(nullptr, &main);
    for (CBitmapDlg* pModal :
         {static_cast<CBitmapDlg*>(&finish), static_cast<CBitmapDlg*>(&details)}) {
        SCOPED_TRACE(pModal->metaObject()->className());
        pModal->setWindowModality(Qt::WindowModal);
        pModal->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(pModal));
        other.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
        ASSERT_EQ(QApplication::activeModalWidget(), pModal);

        Request(IdOf(main));
        // Not qWaitForWindowActive: it counts the window a modal one blocks as well.
        EXPECT_TRUE(QTest::qWaitFor([pModal] { return QApplication::activeWindow() == pModal; }));
        EXPECT_FALSE(other.isActiveWindow());
        pModal->hide();
    }
}

TEST_F(ActivationFixture, AnIdOfNoWindowOfOursChangesNothing) {
    const std::uint32_t nStranger = IdOf(main) + IdOf(other) + 1;
    Request(nStranger);
    Request(0);
    // Another window of ours is not the one later starts ask for.
    Request(IdOf(other));
    EXPECT_TRUE(other.isActiveWindow());
    EXPECT_FALSE(main.isActiveWindow());
    EXPECT_TRUE(pPlatform->arrAsked.empty());
}

// On Wayland a window without the token of the user's action cannot take the focus: it
// asks for attention instead (the compositor marks it urgent), and with a token it is
// activated as anywhere else.
TEST_F(ActivationFixture, WithoutATokenWhereOneIsNeededTheWindowAsksForAttention) {
    pPlatform->bNeedsToken = true;
    Request(IdOf(main));
    EXPECT_EQ(pPlatform->arrAsked, std::vector<QWidget*>{&main});
    EXPECT_TRUE(other.isActiveWindow());

    // The modal window over it is the one the user can use.
    CFinishDlg finish("5 files", "1.00 MB", &main);
    finish.setWindowModality(Qt::WindowModal);
    finish.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&finish));
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    Request(IdOf(main));
    EXPECT_EQ(pPlatform->arrAsked, (std::vector<QWidget*>{&main, &finish}));
    finish.hide();

    pPlatform->arrAsked.clear();
    Request(IdOf(main), "launcher_TIME42");
    EXPECT_TRUE(QTest::qWaitForWindowActive(&main));
    EXPECT_TRUE(pPlatform->arrAsked.empty());
}

// A window manager that hands the focus straight back (focus-stealing prevention): the
// window asks for attention instead, once the desktop has had its moment to answer.
TEST_F(ActivationFixture, AWindowTheDesktopRefusesToActivateAsksForAttention) {
    Request(IdOf(main));
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    EXPECT_TRUE(pPlatform->arrAsked.empty());
    EXPECT_TRUE(QTest::qWaitFor([this] { return !pPlatform->arrAsked.empty(); }, 1000));
    EXPECT_EQ(pPlatform->arrAsked, std::vector<QWidget*>{&main});
}

// A minimised window stays so and only asks for attention, token or not.
TEST_F(ActivationFixture, AMinimisedWindowOnlyAsksForAttention) {
    main.showMinimized();
    ASSERT_TRUE(QTest::qWaitFor([this] { return main.isMinimized(); }));
    Request(IdOf(main), "launcher_TIME42");
    EXPECT_EQ(pPlatform->arrAsked, std::vector<QWidget*>{&main});
    EXPECT_TRUE(main.isMinimized());
    EXPECT_FALSE(main.isActiveWindow());
}

} // namespace
