#include "DialogTemplates.h"

#include "MainLayout.h"

#include <array>

namespace {

using enum DialogItemClass;

// Styles shared by several items.
constexpr DWORD kOwnerDrawButton = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_OWNERDRAW; // 0x5001000B
constexpr DWORD kOwnerDrawButtonOff = kOwnerDrawButton | WS_DISABLED;                 // 0x5801000B
constexpr DWORD kLabel = WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT;                  // 0x50020000
constexpr DWORD kLink = kLabel | SS_NOTIFY;                                           // 0x50020100
constexpr DWORD kBanner =
    WS_CHILD | WS_VISIBLE | SS_BITMAP | SS_NOTIFY | SS_REALSIZEIMAGE; // 0x5000090E

static_assert(kOwnerDrawButton == 0x5001000B && kLabel == 0x50020000 && kBanner == 0x5000090E);

// ---- 102: main dialog ------------------------------------------------------------------
// The value texts are as large as the fields the main picture draws for them.
constexpr int kValueCx = MainLayout::kValueDluWidth;
constexpr int kValueCy = MainLayout::kValueDluHeight;
constexpr std::array kMainItems{
    DialogItem{IDC_BANNER, Static, "", IDB_BANNER, 9, 70, 215, 46, kBanner},
    DialogItem{IDC_DOCUMENTS_COUNT, Static, "Files Count", 0, 133, 138, kValueCx, kValueCy, kLabel},
    DialogItem{IDC_DOCUMENTS_SIZE, Static, "Files Size", 0, 133, 148, kValueCx, kValueCy, kLabel},
    DialogItem{IDC_DETAILS_DOCUMENTS, Button, "", 0, 205, 136, 15, 22, kOwnerDrawButtonOff},
    DialogItem{IDC_IMAGES_COUNT, Static, "Files Count", 0, 133, 168, kValueCx, kValueCy, kLabel},
    DialogItem{IDC_IMAGES_SIZE, Static, "Files Size", 0, 133, 179, kValueCx, kValueCy, kLabel},
    DialogItem{IDC_DETAILS_IMAGES, Button, "", 0, 205, 165, 15, 22, kOwnerDrawButtonOff},
    DialogItem{IDC_MUSIC_COUNT, Static, "Files Count", 0, 133, 199, kValueCx, kValueCy, kLabel},
    DialogItem{IDC_MUSIC_SIZE, Static, "Files Size", 0, 133, 207, kValueCx, kValueCy, kLabel},
    DialogItem{IDC_DETAILS_MUSIC, Button, "", 0, 205, 196, 15, 22, kOwnerDrawButtonOff},
    DialogItem{IDC_VIDEO_COUNT, Static, "Files Count", 0, 133, 229, kValueCx, kValueCy, kLabel},
    DialogItem{IDC_VIDEO_SIZE, Static, "Files Size", 0, 133, 238, kValueCx, kValueCy, kLabel},
    DialogItem{IDC_DETAILS_VIDEO, Button, "", 0, 205, 226, 15, 22, kOwnerDrawButtonOff},
    DialogItem{IDC_PROGRESS, ProgressBar, "", 0, 11, 249, 208, 6, WS_CHILD | PBS_MARQUEE},
    DialogItem{IDC_TOTAL_COUNT, Static, "Files Count", 0, 133, 261, kValueCx, kValueCy, kLabel},
    DialogItem{IDC_TOTAL_SIZE, Static, "Files Size", 0, 133, 272, kValueCx, kValueCy, kLabel},
    DialogItem{IDC_START_PAUSE, Button, "&Start", 0, 11, 295, 50, 14, kOwnerDrawButton},
    DialogItem{IDC_STOP, Button, "S&top", 0, 69, 295, 50, 14, kOwnerDrawButtonOff},
    DialogItem{IDCANCEL, Button, "&Close", 0, 170, 295, 50, 14, kOwnerDrawButton},
    DialogItem{IDC_LINK_DOCUMENTS, Static, "?", 0, 47, 139, 8, 8, kLink},
    DialogItem{IDC_LINK_IMAGES, Static, "?", 0, 47, 169, 8, 8, kLink},
    DialogItem{IDC_LINK_MUSIC, Static, "?", 0, 47, 201, 8, 8, kLink},
    DialogItem{IDC_LINK_VIDEO, Static, "?", 0, 47, 230, 8, 8, kLink},
};

// ---- 167: unsupported-platform warning --------------------------------------------------
constexpr std::array kNotSupportedItems{
    DialogItem{IDYES, Button, "Co&ntinue", 0, 205, 162, 50, 14, kOwnerDrawButton},
    DialogItem{IDNO, Button, "&Cancel", 0, 259, 162, 50, 14, kOwnerDrawButton},
};

// ---- 168: finish dialog ---------------------------------------------------------------
constexpr std::array kFinishItems{
    DialogItem{IDCANCEL, Button, "&Close", 0, 259, 162, 50, 14, kOwnerDrawButton},
    DialogItem{IDC_TOTAL_COUNT, Static, "Files Count", 0, 7, 7, 62, 8, kLabel},
    DialogItem{IDC_TOTAL_SIZE, Static, "Files Size", 0, 7, 18, 62, 8, kLabel},
    DialogItem{IDC_BANNER, Static, "", IDB_FINISH_BANNER, 9, 70, 211, 43, kBanner},
};

// ---- 169: details window ----------------------------------------------------------------
constexpr std::array kDetailsItems{
    DialogItem{IDCANCEL, Button, "&Close", 0, 348, 300, 50, 14, kOwnerDrawButton},
    DialogItem{IDC_FILE_LIST, ListView, "", 0, 7, 7, 391, 288,
               WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | LVS_REPORT | LVS_SHOWSELALWAYS},
};

// Caption-less skinned windows: the picture carries the title strip.
constexpr DWORD kSkinnedPopup = WS_POPUP | WS_VISIBLE | WS_SYSMENU | DS_CENTER | DS_SHELLFONT;
static_assert(kSkinnedPopup == 0x90080848);
// The main window's thin border is one of the two bits of a caption, not a title bar.
static_assert(((kSkinnedPopup | WS_BORDER) & WS_CAPTION) != WS_CAPTION);

constexpr std::array kTemplates{
    DialogTemplate{IDD_MAIN, kSkinnedPopup | WS_BORDER, WS_EX_APPWINDOW, 234, 321, "",
                   "MS Shell Dlg", 8, 400, kMainItems},
    DialogTemplate{IDD_NOT_SUPPORTED, kSkinnedPopup, 0, 316, 183, "", "MS Shell Dlg", 8, 400,
                   kNotSupportedItems},
    DialogTemplate{IDD_FINISH, kSkinnedPopup, 0, 316, 183, "", "MS Shell Dlg", 8, 400,
                   kFinishItems},
    // The caption is replaced by the window title when the window opens.
    DialogTemplate{IDD_DETAILS,
                   WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MAXIMIZEBOX |
                       WS_CLIPCHILDREN | WS_CLIPSIBLINGS | DS_CENTER | DS_SHELLFONT,
                   0, 405, 321, "Pellam", "MS Shell Dlg", 8, 400, kDetailsItems},
};

} // namespace

std::string_view GetItemClassName(DialogItemClass itemClass) {
    switch (itemClass) {
    case Button:
        return "Button";
    case Static:
        return "Static";
    case ProgressBar:
        return "msctls_progress32";
    case ListView:
        return "SysListView32";
    }
    return {};
}

const DialogTemplate* FindDialogTemplate(UINT nId) {
    for (const DialogTemplate& t : kTemplates)
        if (t.nId == nId)
            return &t;
    return nullptr;
}
