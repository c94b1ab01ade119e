// Colours and fonts in the terms the dialogs are written in: 0x00BBGGRR colour values
// and fonts asked for by face, height and weight.
#pragma once

#include <QColor>
#include <QFont>

#include <cstdint>
#include <string>

using COLORREF = std::uint32_t;

constexpr COLORREF RGB(int r, int g, int b) {
    return static_cast<COLORREF>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}
constexpr int GetRValue(COLORREF cr) {
    return static_cast<int>(cr & 0xFF);
}
constexpr int GetGValue(COLORREF cr) {
    return static_cast<int>((cr >> 8) & 0xFF);
}
constexpr int GetBValue(COLORREF cr) {
    return static_cast<int>((cr >> 16) & 0xFF);
}

inline QColor ToQColor(COLORREF cr) {
    return QColor(GetRValue(cr), GetGValue(cr), GetBValue(cr));
}

// The house colours: dark blue text on a light blue box.
inline constexpr COLORREF kHouseText = RGB(5, 13, 111);
inline constexpr COLORREF kHouseBox = RGB(229, 245, 255);

// A font with the meaning the dialogs' numbers were chosen for: a positive height is the
// character cell (ascent plus descent) in pixels, a negative one the character height
// (the em) in pixels; weight 400 is normal and 700 bold. The face is asked for first;
// where it does not exist (the Windows shell faces on Linux) a sans-serif face stands in.
QFont CreateDialogFont(int nHeight, int nWeight, bool bUnderline, const std::string& strFaceName);
