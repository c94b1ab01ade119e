#include "StaticEx.h"

#include <QAccessible>
#include <QPalette>

CStaticEx::CStaticEx(QWidget* pParent)
    : QLabel(pParent), m_nFontHeight(0), m_nFontWeight(0), m_crText(0) {}

CStaticEx::~CStaticEx() = default;

void CStaticEx::SetTextStyle(const std::string& strFaceName) {
    m_nFontHeight = 12;
    m_nFontWeight = 700;
    m_strFaceName = strFaceName;
    m_crText = kHouseText;
    m_brushBox = QBrush(ToQColor(kHouseBox));

    // The text colour and the box are the label's own in every state: it is drawn over
    // the dialog's picture, which has no colour of its own to lend.
    QPalette palette = this->palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::WindowText, ToQColor(m_crText));
        palette.setBrush(group, QPalette::Window, m_brushBox);
    }
    setPalette(palette);
    setAutoFillBackground(true);
    setFont(CreateDialogFont(m_nFontHeight, m_nFontWeight, false, m_strFaceName));
}

void CStaticEx::SetText(const QString& strText) {
    if (strText == text())
        return;
    setText(strText);
    // QLabel tells only of a new name, and only while the text is the name.
    QAccessibleValueChangeEvent event(this, strText);
    QAccessible::updateAccessibility(&event);
}
