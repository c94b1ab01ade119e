// Prints an activation token of the compositor WAYLAND_DISPLAY names, as a launcher
// hands one to the program it starts. Exit code 1 when there is none to be had.
#include "WaylandActivation.h"

#include <wayland-client.h>

#include <cstdio>
#include <memory>

int main() {
    const std::unique_ptr<wl_display, void (*)(wl_display*)> pDisplay(wl_display_connect(nullptr),
                                                                      wl_display_disconnect);
    if (!pDisplay) {
        std::fputs("no Wayland display\n", stderr);
        return 1;
    }
    std::string strToken;
    {
        CWaylandActivation activation(pDisplay.get());
        strToken = activation.RequestToken(nullptr, {});
    }
    if (strToken.empty()) {
        std::fputs("the compositor gave no activation token\n", stderr);
        return 1;
    }
    std::printf("%s\n", strToken.c_str());
    return 0;
}
