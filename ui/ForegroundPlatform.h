// What the desktop lets a program do to bring one of its windows to the user, behind one
// interface, so that the rule of when to activate and when to ask for attention is the
// same everywhere and can be tested without a compositor.
#pragma once

#include <memory>

class QWidget;

class IForegroundPlatform {
public:
    virtual ~IForegroundPlatform() = default;

    // TRUE where a window takes the focus only with the activation token of the user's
    // last action (Wayland): without one, asking for the focus is in vain.
    virtual bool NeedsActivationToken() const = 0;

    // Asks the desktop to draw the user's attention to the window (marked urgent, its
    // taskbar entry flashing) without taking the focus from the user.
    virtual void AskForAttention(QWidget& wnd) = 0;
};

// The running platform's: Wayland's activation protocol (a token from no user action,
// which the compositor answers with urgency), else the urgency hint (X11).
std::unique_ptr<IForegroundPlatform> CreateForegroundPlatform();
