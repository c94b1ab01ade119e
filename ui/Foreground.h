// Bringing a window in front of the user's other windows, as far as the desktop lets
// a program do that (window managers may refuse focus to a program in the background,
// and on Wayland only an activation token from the user's last action lets a window
// take it).
#pragma once

#include "ForegroundPlatform.h"

#include <QObject>

#include <functional>
#include <memory>
#include <string>

class QSocketNotifier;

class QWidget;

// Raises the window and asks for it to become the active window; for a window that
// is not shown yet, as soon as it is.
void SetForegroundWindow(QWidget& wnd);

// Brings a running instance's window forward for a later start: shows it if hidden,
// raises it and activates it, or the modal dialog that blocks it. strToken is the later
// start's activation token (XDG_ACTIVATION_TOKEN), empty when it had none. Where the
// window cannot be activated it asks for the user's attention instead: when minimised
// (it stays so), and on Wayland without a token. Answers the window it asked to be
// activated; null when it asked for attention.
QWidget* BringWindowForward(QWidget& wnd, const std::string& strToken,
                            IForegroundPlatform& platform);

// The first instance's side of the single-instance guard: brings the window it
// published forward when a later start asks for it, and asks for attention when the
// desktop refuses the activation. Does nothing in a process that holds no slot.
class CActivationListener : public QObject {
    Q_OBJECT

public:
    // fnPublished: the window whose id this process published in the slot, null while
    // there is none. The listener does not look the window up by its id: on Wayland
    // every window has the same placeholder id.
    explicit CActivationListener(std::function<QWidget*()> fnPublished,
                                 std::unique_ptr<IForegroundPlatform> pPlatform = {});
    ~CActivationListener() override;

private:
    void OnRequests();

    std::function<QWidget*()> m_fnPublished;
    std::unique_ptr<IForegroundPlatform> m_pPlatform;
    std::unique_ptr<QSocketNotifier> m_pNotifier;
};
