#include "ForegroundPlatform.h"

#include "WaylandActivation.h"

#include <QApplication>
#include <QWidget>
#include <QWindow>
#include <qpa/qplatformnativeinterface.h>

namespace {

// X11 and the rest: Qt's alert sets the window's urgency hint.
class CAlertPlatform final : public IForegroundPlatform {
public:
    bool NeedsActivationToken() const override { return false; }
    void AskForAttention(QWidget& wnd) override { QApplication::alert(&wnd); }
};

// Qt 6.4 asks for no attention on Wayland: a window activates itself with a token it
// asked for without a serial, which the compositor may not honour with the focus.
class CWaylandPlatform final : public IForegroundPlatform {
public:
    explicit CWaylandPlatform(wl_display* pDisplay) : m_activation(pDisplay) {}

    bool NeedsActivationToken() const override { return true; }

    void AskForAttention(QWidget& wnd) override {
        QWindow* pWindow = wnd.windowHandle();
        QPlatformNativeInterface* pNative = QGuiApplication::platformNativeInterface();
        if (!pWindow || !pNative)
            return;
        auto* pSurface =
            static_cast<wl_surface*>(pNative->nativeResourceForWindow("surface", pWindow));
        if (!pSurface)
            return;
        const std::string strToken =
            m_activation.RequestToken(pSurface, QGuiApplication::desktopFileName().toStdString());
        m_activation.Activate(strToken, pSurface);
    }

private:
    CWaylandActivation m_activation;
};

} // namespace

std::unique_ptr<IForegroundPlatform> CreateForegroundPlatform() {
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
        QPlatformNativeInterface* pNative = QGuiApplication::platformNativeInterface();
        auto* pDisplay =
            pNative ? static_cast<wl_display*>(pNative->nativeResourceForIntegration("display"))
                    : nullptr;
        if (pDisplay)
            return std::make_unique<CWaylandPlatform>(pDisplay);
    }
    return std::make_unique<CAlertPlatform>();
}
