#include "HyperLink.h"

#include "Messages.h"
#include "Shell.h"
#include "ToolTip.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>

CHyperLink::CHyperLink(QWidget* pParent)
    : QLabel(pParent), m_crLink(RGB(0, 0, 206)), m_crHover(RGB(255, 0, 0)),
      m_crVisited(RGB(132, 0, 132)), m_bOverControl(false), m_bVisited(false) {}

CHyperLink::~CHyperLink() = default;

void CHyperLink::PreSubclassWindow() {
    // A static only takes the mouse with the notify style; a link always needs it.
    setAttribute(Qt::WA_TransparentForMouseEvents, false);
    m_fontUnderline = font();
    m_fontUnderline.setUnderline(true);
    setFont(m_fontUnderline);
    m_cursorHand = QCursor(Qt::PointingHandCursor);
    setCursor(*m_cursorHand);
}

COLORREF CHyperLink::GetCurrentColor() const {
    if (m_bVisited)
        return m_crVisited;
    return m_bOverControl ? m_crHover : m_crLink;
}

void CHyperLink::OnClicked() {
    if (PathIsURL(m_strUrl))
        ShellOpenUrl(m_strUrl);
    else if (QWidget* pParent = parentWidget())
        PostWindowMessage(pParent, WM_LINKCLICKED, 0, HandleOf(this));
    m_bVisited = true;
    update();
}

// Drawn by hand so the colour is read at paint time: the dialog may change the colour
// fields directly. No background: the dialog's picture shows through.
void CHyperLink::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setFont(font());
    painter.setPen(ToQColor(GetCurrentColor()));
    int nFlags = static_cast<int>(alignment()) | Qt::TextShowMnemonic;
    if (wordWrap())
        nFlags |= Qt::TextWordWrap;
    painter.drawText(contentsRect(), nFlags, text());
}

bool CHyperLink::event(QEvent* pEvent) {
    if (pEvent->type() == QEvent::ToolTip) {
        ShowControlToolTip(this, static_cast<QHelpEvent*>(pEvent), m_strToolTip, kToolTipMaxWidth);
        return true;
    }
    return QLabel::event(pEvent);
}

void CHyperLink::enterEvent(QEnterEvent* pEvent) {
    QLabel::enterEvent(pEvent);
    if (!m_bOverControl) {
        m_bOverControl = true;
        repaint();
    }
}

void CHyperLink::leaveEvent(QEvent* pEvent) {
    QLabel::leaveEvent(pEvent);
    if (m_bOverControl) {
        m_bOverControl = false;
        repaint();
    }
}

// A static reports its click when the button goes down.
void CHyperLink::mousePressEvent(QMouseEvent* pEvent) {
    if (pEvent->button() != Qt::LeftButton) {
        QLabel::mousePressEvent(pEvent);
        return;
    }
    pEvent->accept();
    OnClicked();
}

// Qt would take the second press of a double-click for another click.
void CHyperLink::mouseDoubleClickEvent(QMouseEvent* pEvent) {
    pEvent->accept();
}
