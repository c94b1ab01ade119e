#include "Foreground.h"

#include "SingleInstance.h"

#include <QApplication>
#include <QPointer>
#include <QSocketNotifier>
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

CActivationListener::CActivationListener() {
    const int nHandle = GetActivationHandle();
    if (nHandle < 0)
        return;
    m_pNotifier = std::make_unique<QSocketNotifier>(nHandle, QSocketNotifier::Read);
    connect(m_pNotifier.get(), &QSocketNotifier::activated, this, &CActivationListener::OnRequests);
}

CActivationListener::~CActivationListener() = default;

void CActivationListener::OnRequests() {
    while (const auto request = TakeActivationRequest()) {
        // Only windows that exist already: asking for an id never creates one.
        for (QWidget* pWnd : QApplication::topLevelWidgets()) {
            const WId id = pWnd->internalWinId();
            if (id != 0 && static_cast<std::uint32_t>(id) == request->nWindowId) {
                BringWindowForward(*pWnd, request->strToken);
                break;
            }
        }
    }
}
