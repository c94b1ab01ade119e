// Where the main window's controls and picture texts sit, in client pixels of its 1x
// picture (IDB_MAIN_BACKGROUND). The window moves its controls here from where the dialog
// template (in dialog units) first put them; the artwork draws the panels, fields and
// labels of the picture around these places; the artwork test checks that what each
// control shows fits what lies under it. One table, so the four cannot drift apart.
#pragma once

#include "DialogUnits.h"

namespace MainLayout {

struct Point {
    int x, y;
};
struct Rect {
    int x, y, cx, cy;
};

inline constexpr int kWidth = 349; // the picture
inline constexpr int kHeight = 518;
inline constexpr int kTitleHeight = 56; // the title strip across the top
inline constexpr int kFooterY = 466;    // the button strip, from here down

// The panels and texts of the picture span this column.
inline constexpr int kPanelX = 14;
inline constexpr int kPanelWidth = 322;

// The picture's texts a reader is told, where the picture shows them (the artwork checks
// that each lies inside its place).
inline constexpr Rect kTagline{57, 36, kPanelX + kPanelWidth - 57, 13};
inline constexpr Rect kHeading{kPanelX, 64, kPanelWidth, 20};
inline constexpr Rect kIntro{kPanelX, 86, kPanelWidth, 30};
inline constexpr Rect kCaption{kPanelX + 1, 200, kPanelWidth - 1, 12};

inline constexpr Point kBanner{kPanelX, 120};

// The value texts in id order (IDC_DOCUMENTS_COUNT to IDC_TOTAL_SIZE): each group's count
// and size, then the totals'. Their size is the template's.
inline constexpr int kValueX = 200;
inline constexpr int kValueY[] = {222, 240, 271, 289, 320, 338, 369, 387, 421, 439};
inline constexpr int kValueDluWidth = 62; // dialog units
inline constexpr int kValueDluHeight = 8;
inline constexpr int kValueWidth = DluToPixelsX(kValueDluWidth);
inline constexpr int kValueHeight = DluToPixelsY(kValueDluHeight);
static_assert(kValueWidth == 93 && kValueHeight == 13);

// Each group's name and the note under it (on the line of its size), and the totals'.
inline constexpr int kNameX = 52;
inline constexpr int kNoteWidth = 108;
constexpr Rect NoteOf(int nRow) {
    return {kNameX, kValueY[2 * nRow + 1] - 1, kNoteWidth, kValueHeight + 1};
}

// The "?" of each group, right of its name (IDC_LINK_DOCUMENTS to IDC_LINK_VIDEO).
inline constexpr Point kLinks[] = {{136, 222}, {111, 272}, {100, 320}, {100, 369}};

// The details buttons (26 x 35 pictures), one a group.
inline constexpr int kDetailsX = 304;
inline constexpr int kDetailsY[] = {219, 268, 317, 366};
inline constexpr int kDetailsHeight = 35;

inline constexpr Point kProgress{18, 403};

// Start/Pause/Resume, Stop and Close (86 x 28 pictures), on the button strip.
inline constexpr Point kStart{18, 481};
inline constexpr Point kStop{106, 481};
inline constexpr Point kClose{245, 481};

} // namespace MainLayout
