#include "Foreground.h"

#include "ForegroundPlatform.h"
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

void BringWindowForward(QWidget& wnd, const std::string& strToken, IForegroundPlatform& platform) {
    if (!wnd.isVisible())
        wnd.show();
    if (wnd.isMinimized()) {
        platform.AskForAttention(wnd);
        return;
    }
    QWidget* pModal = QApplication::activeModalWidget();
    QWidget& target = pModal && pModal != &wnd ? *pModal : wnd;
    if (strToken.empty() && platform.NeedsActivationToken()) {
        platform.AskForAttention(target);
        return;
    }
    // The compositor of a Wayland session grants activation only with the token of the
    // user's action; Qt takes it from the environment when it asks.
    if (!strToken.empty())
        qputenv("XDG_ACTIVATION_TOKEN", QByteArray::fromStdString(strToken));
    wnd.raise();
    if (&target != &wnd)
        target.raise();
    target.activateWindow();
}

CActivationListener::CActivationListener(std::function<QWidget*()> fnPublished,
                                         std::unique_ptr<IForegroundPlatform> pPlatform)
    : m_fnPublished(std::move(fnPublished)), m_pPlatform(std::move(pPlatform)) {
    const int nHandle = GetActivationHandle();
    if (nHandle < 0)
        return;
    if (!m_pPlatform)
        m_pPlatform = CreateForegroundPlatform();
    m_pNotifier = std::make_unique<QSocketNotifier>(nHandle, QSocketNotifier::Read);
    connect(m_pNotifier.get(), &QSocketNotifier::activated, this, &CActivationListener::OnRequests);
}

CActivationListener::~CActivationListener() = default;

void CActivationListener::OnRequests() {
    while (const auto request = TakeActivationRequest()) {
        // A request names the window by the id read from the slot; one that names
        // another (a slot left by an earlier window) is not for us. internalWinId, not
        // winId: asking for an id never creates a window.
        QWidget* pWnd = m_fnPublished();
        const WId id = pWnd ? pWnd->internalWinId() : 0;
        if (id != 0 && static_cast<std::uint32_t>(id) == request->nWindowId)
            BringWindowForward(*pWnd, request->strToken, *m_pPlatform);
    }
}
