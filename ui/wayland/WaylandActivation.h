// The compositor's side of bringing a window forward on Wayland (xdg_activation_v1):
// a window takes the focus only with a token, and the compositor decides what a token
// that comes from no user action is worth; wlroots' compositors and KWin then mark the
// window urgent instead. No Qt here: the platform layer hands in Qt's own connection,
// and the end-to-end tests use the same code on a connection of their own.
#pragma once

#include <memory>
#include <string>

struct wl_display;
struct wl_surface;

class CWaylandActivation {
public:
    // Binds the compositor's activation global on an event queue of its own, so that
    // whoever else reads the connection (Qt's event thread) never dispatches our objects.
    explicit CWaylandActivation(wl_display* pDisplay);
    ~CWaylandActivation();
    CWaylandActivation(const CWaylandActivation&) = delete;
    CWaylandActivation& operator=(const CWaylandActivation&) = delete;

    // FALSE when the compositor offers no activation protocol.
    bool IsAvailable() const;

    // A token for pSurface (may be null) without a serial: we act on no input event.
    // Empty when the compositor gives none or the connection fails.
    std::string RequestToken(wl_surface* pSurface, const std::string& strAppId);

    // Asks the compositor to activate pSurface with strToken.
    void Activate(const std::string& strToken, wl_surface* pSurface);

private:
    struct Objects;
    std::unique_ptr<Objects> m_pObjects;
};
