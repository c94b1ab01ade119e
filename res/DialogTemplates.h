// Dialog layouts as data: for each dialog its size, window style, caption, font and
// items, in dialog units. The windowed program binds its controls to these items by
// id. The numbers stay in the dialog units the layouts were made in, so that they read as
// laid out; DluToPixelsX and DluToPixelsY (DialogUnits.h) turn them into pixels where a
// window is built.
#pragma once

#include "DialogUnits.h"
#include "Resource.h"

#include <cstdint>
#include <span>
#include <string_view>

using DWORD = std::uint32_t;

// ---- Window styles -------------------------------------------------------------------
inline constexpr DWORD WS_POPUP = 0x80000000;
inline constexpr DWORD WS_CHILD = 0x40000000;
inline constexpr DWORD WS_VISIBLE = 0x10000000;
inline constexpr DWORD WS_DISABLED = 0x08000000;
inline constexpr DWORD WS_CLIPSIBLINGS = 0x04000000;
inline constexpr DWORD WS_CLIPCHILDREN = 0x02000000;
inline constexpr DWORD WS_CAPTION = 0x00C00000; // both bits: a title bar
inline constexpr DWORD WS_BORDER = 0x00800000;
inline constexpr DWORD WS_SYSMENU = 0x00080000;
inline constexpr DWORD WS_THICKFRAME = 0x00040000;
inline constexpr DWORD WS_GROUP = 0x00020000;
inline constexpr DWORD WS_TABSTOP = 0x00010000;
inline constexpr DWORD WS_MAXIMIZEBOX = 0x00010000; // on a top-level window

inline constexpr DWORD WS_EX_APPWINDOW = 0x00040000;

// ---- Dialog styles ---------------------------------------------------------------------
inline constexpr DWORD DS_SETFONT = 0x0040;
inline constexpr DWORD DS_MODALFRAME = 0x0080;
inline constexpr DWORD DS_FIXEDSYS = 0x0008;
inline constexpr DWORD DS_CENTER = 0x0800;
inline constexpr DWORD DS_SHELLFONT = DS_SETFONT | DS_FIXEDSYS;

// ---- Control styles --------------------------------------------------------------------
inline constexpr DWORD BS_OWNERDRAW = 0x000B;
inline constexpr DWORD SS_LEFT = 0x0000;
inline constexpr DWORD SS_BITMAP = 0x000E;
inline constexpr DWORD SS_TYPEMASK = 0x001F;
inline constexpr DWORD SS_NOTIFY = 0x0100;
inline constexpr DWORD SS_REALSIZEIMAGE = 0x0800;
inline constexpr DWORD PBS_MARQUEE = 0x0008;
inline constexpr DWORD LVS_REPORT = 0x0001;
inline constexpr DWORD LVS_SHOWSELALWAYS = 0x0008;

enum class DialogItemClass { Button, Static, ProgressBar, ListView };

// The system's window class name of an item class ("Button", "Static", ...).
std::string_view GetItemClassName(DialogItemClass itemClass);

struct DialogItem {
    UINT nId;
    DialogItemClass itemClass;
    std::string_view strText; // may hold a mnemonic ('&')
    UINT nImageId;            // picture shown by an SS_BITMAP static; 0 otherwise
    int x, y, cx, cy;         // dialog units
    DWORD dwStyle;
};

struct DialogTemplate {
    UINT nId;
    DWORD dwStyle;
    DWORD dwExStyle;
    int cx, cy; // client area, dialog units
    std::string_view strCaption;
    std::string_view strFaceName;
    int nPointSize;
    int nWeight;
    std::span<const DialogItem> arrItems; // template order: tab and stacking order
};

// The layout of a dialog; nullptr for an unknown id.
const DialogTemplate* FindDialogTemplate(UINT nId);
