#include "Foreground.h"

#include <QApplication>
#include <QPointer>
#include <QTimer>
#include <QWidget>

namespace {

void RaiseAndActivate(QWidget& wnd) {
    wnd.raise();
    wnd.activateWindow();
}

} // namespace

void SetForegroundWindow(QWidget& wnd) {
    if (wnd.isVisible()) {
        RaiseAndActivate(wnd);
        return;
    }
    // Called while the window is being created: activate it once it is on screen.
    QTimer::singleShot(0, &wnd, [pWnd = QPointer<QWidget>(&wnd)] {
        if (pWnd && pWnd->isVisible())
            RaiseAndActivate(*pWnd);
    });
}

void BringWindowForward(QWidget& wnd, const std::string& strToken) {
    if (!wnd.isVisible())
        wnd.show();
    if (wnd.isMinimized()) {
        QApplication::alert(&wnd);
        return;
    }
    // The compositor of a Wayland session grants activation only with the token of the
    // user's action; Qt takes it from the environment when it asks.
    if (!strToken.empty())
        qputenv("XDG_ACTIVATION_TOKEN", QByteArray::fromStdString(strToken));
    wnd.raise();
    QWidget* pModal = QApplication::activeModalWidget();
    QWidget& target = pModal && pModal != &wnd ? *pModal : wnd;
    if (&target != &wnd)
        target.raise();
    target.activateWindow();
}
