// Only one instance of the windowed program runs for a user: later starts find the
// first one's main window through a small named slot, bring it forward and exit.
#pragma once

#include <cstdint>

// Stores the main window's id in the slot, for later starts to find. Does nothing
// when this process holds no slot.
void PublishMainWindow(std::uint32_t nWindowId);
