// Window messages between controls and their dialog, carried as posted Qt events whose
// type number is the message number.
#pragma once

#include "platform/Types.h"
#include "platform/Window.h" // WM_USER

#include <QEvent>

class QObject;
class QWidget;

// Posted by a link without an address and by every banner click; wParam 0, lParam the
// handle of the control that was clicked.
inline constexpr UINT WM_LINKCLICKED = WM_USER + 102;
inline constexpr UINT WM_BANNERCLICKED = WM_USER + 103;

class CMessageEvent : public QEvent {
public:
    CMessageEvent(UINT nMsg, WPARAM wParam, LPARAM lParam)
        : QEvent(static_cast<QEvent::Type>(nMsg)), m_wParam(wParam), m_lParam(lParam) {}

    UINT GetMessage() const { return static_cast<UINT>(type()); }

    WPARAM m_wParam;
    LPARAM m_lParam;
};

// The handle a control is known by in messages. It is only ever compared with the
// handles of live controls, never followed.
inline LPARAM HandleOf(const QWidget* pWnd) {
    return reinterpret_cast<LPARAM>(pWnd);
}

// Queues the message for pTarget's event loop and returns at once; Qt owns the event
// from here on and drops it if pTarget goes away first.
void PostWindowMessage(QObject* pTarget, UINT nMsg, WPARAM wParam, LPARAM lParam);
