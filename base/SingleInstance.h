// Only one instance of the windowed program runs for a user: later starts find the
// first one's main window through a small named slot, bring it forward and exit.
//
// The slot is a 4-byte file named kInstanceSectionName in the user's runtime folder
// ($XDG_RUNTIME_DIR, else a private folder in the temporary folder). The first instance
// holds a lock on it for as long as it runs; the kernel drops the lock with the process,
// however it ends, so a slot without a lock is a leftover and the start that finds it
// becomes the first instance. Windows are brought forward by the first instance itself
// (on Wayland nobody else may), asked through a datagram socket next to the slot.
// Folder, slot and socket are used only when they are the user's own.
//
// Where no private folder can be had (no runtime folder, and the temporary one planted
// by another user or read-only), the guard is a listening socket in the abstract
// namespace instead, whose holder the kernel names: no other user can hold it for us
// or keep us from it. Only where neither can be had does the program run unguarded;
// like the rest of the guard, that is said to nobody: no message, no log line.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

inline constexpr char kInstanceSectionName[] = "{5A0C7E31-9B2D-4F68-8E14-27D3C6B9A045}";

// The first step of the program, before the application object. Returns in the first
// instance (and when no guard can be had). A later start asks the first instance to
// bring its main window forward, when it has published one, and ends the process with
// exit code 0 without running anything else.
void CheckSingleInstance();

// Stores the main window's id in the slot, for later starts to find. Does nothing
// when this process holds no slot.
void PublishMainWindow(std::uint32_t nWindowId);

// What a later start asks of the first instance.
struct ActivationRequest {
    std::uint32_t nWindowId; // the id the later start read from the slot
    std::string strToken;    // its activation token (XDG_ACTIVATION_TOKEN); may be empty
};

// First instance: a descriptor that turns readable when a request waits; -1 when this
// process holds no slot or could not open its socket.
int GetActivationHandle();
// The next waiting request sent by a process of this user; nullopt when none waits.
// Never blocks; requests that are malformed or come from another user are dropped.
std::optional<ActivationRequest> TakeActivationRequest();

// ---- The pieces CheckSingleInstance is made of -------------------------------------------

// The slot held by the first instance: the lock, the socket, and their removal when
// the process ends normally.
class CInstanceSection;

// Null when this process holds no slot. Released at process exit, after everything
// main owned.
extern std::unique_ptr<CInstanceSection> InstanceSection;

// Releases the slot as the end of the process does (for tests).
void CloseInstanceSection();

// The folder of the slot: $XDG_RUNTIME_DIR when it is a private folder of this user,
// else "tarrow-UID" in the temporary folder ($TMPDIR, else /tmp), created private.
// Empty when neither is a private folder of this user.
std::string GetInstanceFolder();

enum class InstanceState {
    First,     // this process holds the slot now: InstanceSection is set
    Running,   // a live process of this user holds it
    Unguarded, // no slot could be had: run without a guard
};
struct InstanceCheck {
    InstanceState state;
    std::uint32_t nWindowId; // Running: the window the first instance published, or 0
};
InstanceCheck OpenInstanceSection(const std::string& strFolder);

// Sends the request to the first instance whose slot is in strFolder. FALSE when there
// is no socket of this user to send it to or it cannot take it now.
bool RequestActivation(const std::string& strFolder, const ActivationRequest& request);

// The guard in the abstract namespace: names strBase.0, strBase.1 ... in turn, each
// passed over while another user holds it. First: this process listens on one now;
// Running: a process of this user does (its window id is not known here: 0).
InstanceCheck OpenAbstractInstanceSection(const std::string& strBase);
// Sends the request to the first instance that holds a name of strBase; the first
// instance fills in its own window. FALSE when no process of this user holds one.
bool RequestAbstractActivation(const std::string& strBase, const ActivationRequest& request);
// The names' stem for this user: "tarrow-UID-" and the section's name.
std::string GetAbstractInstanceName();
