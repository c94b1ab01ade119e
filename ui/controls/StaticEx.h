// Text label in the house style: bold text, dark blue on a light blue box.
#pragma once

#include "Gdi.h"

#include <QBrush>
#include <QLabel>

#include <string>

class CStaticEx : public QLabel {
    Q_OBJECT

public:
    explicit CStaticEx(QWidget* pParent = nullptr);
    ~CStaticEx() override;

    // The one styling step (every caller passes "MS Shell Dlg"): a bold font with a
    // 12-pixel character cell in that face, dark blue text, a light blue box. May be
    // repeated; each call replaces the box colour and the font.
    void SetTextStyle(const std::string& strFaceName);
    // A new text, which assistive technology hears of as the label's new value. The
    // caller decides how often: once a repaint at most.
    void SetText(const QString& strText);

    int GetFontHeight() const { return m_nFontHeight; }
    int GetFontWeight() const { return m_nFontWeight; }
    const std::string& GetFaceName() const { return m_strFaceName; }
    COLORREF GetTextColor() const { return m_crText; }
    // Qt::NoBrush until SetTextStyle: the label then leaves its colours to the dialog.
    const QBrush& GetBackgroundBrush() const { return m_brushBox; }

private:
    int m_nFontHeight;
    int m_nFontWeight;
    std::string m_strFaceName;
    COLORREF m_crText;
    QBrush m_brushBox;
};
