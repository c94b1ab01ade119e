// Bringing a window in front of the user's other windows, as far as the desktop lets
// a program do that (window managers may refuse focus to a program in the background,
// and on Wayland only an activation token from the user's last action lets a window
// take it).
#pragma once

#include <QObject>

#include <memory>
#include <string>

class QSocketNotifier;

class QWidget;

// Raises the window and asks for it to become the active window; for a window that
// is not shown yet, as soon as it is.
void SetForegroundWindow(QWidget& wnd);

// Brings a running instance's window forward for a later start: shows it if hidden
// (a minimised window stays minimised and only asks for the user's attention), raises
// it and activates it, or the modal dialog that blocks it. strToken is the later
// start's activation token (XDG_ACTIVATION_TOKEN), empty when it had none.
void BringWindowForward(QWidget& wnd, const std::string& strToken);

// The first instance's side of the single-instance guard: brings the window a later
// start asks for forward, when it is one of this process's windows. Does nothing in a
// process that holds no slot.
class CActivationListener : public QObject {
    Q_OBJECT

public:
    CActivationListener();
    ~CActivationListener() override;

private:
    void OnRequests();

    std::unique_ptr<QSocketNotifier> m_pNotifier;
};
