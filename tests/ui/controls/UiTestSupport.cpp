#include "UiTestSupport.h"

#include "Accessible.h"
#include "Shell.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <memory>

std::vector<std::string>& OpenedUrls() {
    static std::vector<std::string> arrUrls;
    return arrUrls;
}

namespace {

class CQtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        m_pApp = std::make_unique<QApplication>(m_nArgc, m_arrArgv);
        InstallControlAccessibility();
        m_pNoBrowser = std::make_unique<CShellOpenOverride>(
            [](const std::string& strUrl) { OpenedUrls().push_back(strUrl); });
    }
    void TearDown() override {
        m_pNoBrowser.reset();
        m_pApp.reset();
    }

private:
    int m_nArgc = 1;
    char m_szName[16] = "ui_tests";
    char* m_arrArgv[2] = {m_szName, nullptr};
    std::unique_ptr<QApplication> m_pApp;
    std::unique_ptr<CShellOpenOverride> m_pNoBrowser;
};

// gtest owns and deletes the environment.
[[maybe_unused]] ::testing::Environment* const g_pQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new CQtEnvironment);

QPoint Centre(const QWidget& widget, QPoint pt) {
    return pt == QPoint(-1, -1) ? widget.rect().center() : pt;
}

} // namespace

void SendEnter(QWidget& widget) {
    const QPointF pt = widget.rect().center();
    QEnterEvent enter(pt, pt, widget.mapToGlobal(pt));
    QApplication::sendEvent(&widget, &enter);
}

void SendLeave(QWidget& widget) {
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&widget, &leave);
}

void SendPress(QWidget& widget, QPoint pt) {
    const QPointF ptLocal = Centre(widget, pt);
    QMouseEvent press(QEvent::MouseButtonPress, ptLocal, widget.mapToGlobal(ptLocal),
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&widget, &press);
}

void SendRelease(QWidget& widget, QPoint pt) {
    const QPointF ptLocal = Centre(widget, pt);
    QMouseEvent release(QEvent::MouseButtonRelease, ptLocal, widget.mapToGlobal(ptLocal),
                        Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&widget, &release);
}

void SendDoubleClick(QWidget& widget) {
    SendPress(widget);
    SendRelease(widget);
    const QPointF pt = widget.rect().center();
    QMouseEvent dblclick(QEvent::MouseButtonDblClick, pt, widget.mapToGlobal(pt), Qt::LeftButton,
                         Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&widget, &dblclick);
    SendRelease(widget);
}

void ProcessPosted() {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}
