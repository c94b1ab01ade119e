// Tool tips of the picture buttons, banners and links.
#pragma once

#include <QString>

#include <string>

class QFont;
class QHelpEvent;
class QWidget;

// Width at which the tips of buttons and links wrap onto further lines.
inline constexpr int kToolTipMaxWidth = 200;

// The text broken at spaces into lines no wider than nMaxWidth pixels in the font (a
// single word wider than that keeps a line of its own); nMaxWidth 0 keeps one line.
QString WrapToolTipText(const QString& strText, const QFont& font, int nMaxWidth);

// Answers a tool-tip request for the whole of pControl: shows the text, wrapped at
// nMaxWidth (0: one line), or hides any tip when the text is empty.
void ShowControlToolTip(QWidget* pControl, QHelpEvent* pEvent, const std::string& strText,
                        int nMaxWidth);
