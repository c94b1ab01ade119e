#include "Foreground.h"
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

struct ActivationFixture : ::testing::Test {
    void SetUp() override {
        ASSERT_EQ(OpenInstanceSection(folder.Path()).state, InstanceState::First);
        pListener = std::make_unique<CActivationListener>();
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
    QWidget main, other;
};

TEST_F(ActivationFixture, ALaterStartBringsThePublishedWindowForward) {
    Request(IdOf(main), "launcher_TIME42");
    EXPECT_TRUE(QTest::qWaitForWindowActive(&main));
    EXPECT_EQ(qgetenv("XDG_ACTIVATION_TOKEN"), "launcher_TIME42");

    // A hidden window is shown again.
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    main.hide();
    Request(IdOf(main));
    EXPECT_TRUE(main.isVisible());
    EXPECT_TRUE(QTest::qWaitForWindowActive(&main));
}

TEST_F(ActivationFixture, AnIdOfNoWindowOfOursChangesNothing) {
    const std::uint32_t nStranger = IdOf(main) + IdOf(other) + 1;
    Request(nStranger);
    Request(0);
    EXPECT_TRUE(other.isActiveWindow());
    EXPECT_FALSE(main.isActiveWindow());
}

} // namespace
