#include "Foreground.h"

#include "ForegroundPlatform.h"
#include "SingleInstance.h"

#include <QApplication>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>

#include <chrono>

namespace {

// How long the desktop has to grant an activation before it counts as refused: window
// managers and compositors answer within a few frames.
constexpr std::chrono::milliseconds kActivationGrace{300};

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

QWidget* BringWindowForward(QWidget& wnd, const std::string& strToken,
                            IForegroundPlatform& platform) {
    if (!wnd.isVisible())
        wnd.show();
    if (wnd.isMinimized()) {
        platform.AskForAttention(wnd);
        return nullptr;
    }
    QWidget* pModal = QApplication::activeModalWidget();
    QWidget& target = pModal && pModal != &wnd ? *pModal : wnd;
    if (strToken.empty() && platform.NeedsActivationToken()) {
        platform.AskForAttention(target);
        return nullptr;
    }
    // The compositor of a Wayland session grants activation only with the token of the
    // user's action; Qt takes it from the environment when it asks.
    if (!strToken.empty())
        qputenv("XDG_ACTIVATION_TOKEN", QByteArray::fromStdString(strToken));
    wnd.raise();
    if (&target != &wnd)
        target.raise();
    target.activateWindow();
    return &target;
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
        if (id == 0 || static_cast<std::uint32_t>(id) != request->nWindowId)
            continue;
        QWidget* pAsked = BringWindowForward(*pWnd, request->strToken, *m_pPlatform);
        if (!pAsked)
            continue;
        // The desktop may still refuse the focus to a program in the background (a
        // window manager's focus-stealing prevention, a token the compositor does not
        // take): then the window asks for attention.
        QTimer::singleShot(kActivationGrace, this, [this, pAsked = QPointer<QWidget>(pAsked)] {
            if (pAsked && pAsked->isVisible() && !pAsked->isActiveWindow())
                m_pPlatform->AskForAttention(*pAsked);
        });
    }
}
