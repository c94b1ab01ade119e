#include "BitmapButtonEx.h"

#include "Accessible.h"
#include "Bitmaps.h"
#include "ToolTip.h"

#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <utility>

CBitmapButtonEx::CBitmapButtonEx(QWidget* pParent)
    : QAbstractButton(pParent), m_bHover(false), m_bEnterDown(false) {
    InstallControlAccessibility();
}

CBitmapButtonEx::~CBitmapButtonEx() = default;

bool CBitmapButtonEx::LoadBitmaps(UINT nIDBitmapResource, UINT nIDBitmapResourceSel,
                                  UINT nIDBitmapResourceFocus, UINT nIDBitmapResourceDisabled) {
    m_bmpNormal = QPixmap();
    m_bmpSelected = QPixmap();
    m_bmpFocus = QPixmap();
    m_bmpDisabled = QPixmap();

    m_bmpNormal = LoadBitmap(nIDBitmapResource);
    bool bAllLoaded = !m_bmpNormal.isNull();
    if (bAllLoaded) {
        const auto load = [&bAllLoaded](QPixmap& bmp, UINT nId) {
            if (nId == 0)
                return;
            bmp = LoadBitmap(nId);
            bAllLoaded = bAllLoaded && !bmp.isNull();
        };
        load(m_bmpSelected, nIDBitmapResourceSel);
        load(m_bmpFocus, nIDBitmapResourceFocus);
        load(m_bmpDisabled, nIDBitmapResourceDisabled);
    }
    update();
    return bAllLoaded;
}

void CBitmapButtonEx::SizeToContent() {
    if (!m_bmpNormal.isNull())
        resize(m_bmpNormal.size());
}

void CBitmapButtonEx::PreSubclassWindow() {
    if (!m_cursorHand)
        m_cursorHand = QCursor(Qt::PointingHandCursor);
    setCursor(*m_cursorHand);
}

CBitmapButtonEx::Image CBitmapButtonEx::ChooseImage(UINT nItemState, bool bHasSelected,
                                                    bool bHasFocus, bool bHasDisabled) {
    if ((nItemState & ODS_SELECTED) && bHasSelected)
        return Image::Selected;
    if ((nItemState & ODS_FOCUS) && bHasFocus)
        return Image::Focus;
    if ((nItemState & ODS_DISABLED) && bHasDisabled)
        return Image::Disabled;
    return Image::Normal;
}

UINT CBitmapButtonEx::GetItemState() const {
    UINT nState = 0;
    if (isDown())
        nState |= ODS_SELECTED;
    if (!isEnabled())
        nState |= ODS_DISABLED;
    if (hasFocus())
        nState |= ODS_FOCUS;
    return nState;
}

CBitmapButtonEx::Image CBitmapButtonEx::GetDrawnImage() const {
    UINT nState = GetItemState();
    if (m_bHover)
        nState |= ODS_FOCUS; // hovering shows the focus image
    if (m_bmpNormal.isNull())
        return Image::None;
    return ChooseImage(nState, !m_bmpSelected.isNull(), !m_bmpFocus.isNull(),
                       !m_bmpDisabled.isNull());
}

void CBitmapButtonEx::DrawItem(QPainter& painter, UINT nItemState) {
    if (m_bmpNormal.isNull())
        return;
    if (m_bHover)
        nItemState |= ODS_FOCUS;
    const QPixmap* pImage = &m_bmpNormal;
    switch (ChooseImage(nItemState, !m_bmpSelected.isNull(), !m_bmpFocus.isNull(),
                        !m_bmpDisabled.isNull())) {
    case Image::Selected:
        pImage = &m_bmpSelected;
        break;
    case Image::Focus:
        pImage = &m_bmpFocus;
        break;
    case Image::Disabled:
        pImage = &m_bmpDisabled;
        break;
    case Image::Normal:
    case Image::None:
        break;
    }
    painter.drawPixmap(QPoint(0, 0), *pImage, QRect(QPoint(0, 0), size()));
}

void CBitmapButtonEx::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    DrawItem(painter, GetItemState());
}

QSize CBitmapButtonEx::sizeHint() const {
    return m_bmpNormal.isNull() ? QSize(0, 0) : m_bmpNormal.size();
}

bool CBitmapButtonEx::event(QEvent* pEvent) {
    // Disabled, the button lets the mouse through to the dialog (a press drags the
    // window); Qt would offer it the tool tip and swallow the presses.
    if (!isEnabled()) {
        switch (pEvent->type()) {
        case QEvent::ToolTip:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
            pEvent->ignore();
            return false;
        default:
            break;
        }
    }
    if (pEvent->type() == QEvent::ToolTip) {
        ShowControlToolTip(this, static_cast<QHelpEvent*>(pEvent), m_strToolTip, kToolTipMaxWidth);
        return true;
    }
    return QAbstractButton::event(pEvent);
}

void CBitmapButtonEx::changeEvent(QEvent* pEvent) {
    if (pEvent->type() == QEvent::EnabledChange && m_cursorHand) {
        if (isEnabled())
            setCursor(*m_cursorHand);
        else
            unsetCursor();
    }
    QAbstractButton::changeEvent(pEvent);
}

// Qt sends Enter to disabled widgets as well.
void CBitmapButtonEx::enterEvent(QEnterEvent* pEvent) {
    if (isEnabled()) {
        m_bHover = true;
        update();
    }
    QAbstractButton::enterEvent(pEvent);
}

// Also reaches a button that was disabled while hovered: it keeps its hover image until
// the mouse leaves.
void CBitmapButtonEx::leaveEvent(QEvent* pEvent) {
    m_bHover = false;
    update();
    QAbstractButton::leaveEvent(pEvent);
}

// The second press of a double-click is no click of its own.
void CBitmapButtonEx::mouseDoubleClickEvent(QMouseEvent* pEvent) {
    pEvent->accept();
}

namespace {

bool IsEnterKey(const QKeyEvent* pEvent) {
    return pEvent->key() == Qt::Key_Return || pEvent->key() == Qt::Key_Enter;
}

} // namespace

void CBitmapButtonEx::keyPressEvent(QKeyEvent* pEvent) {
    if (IsEnterKey(pEvent) && !pEvent->isAutoRepeat())
        m_bEnterDown = true;
    // Not handled here: the press goes on to the dialog as its default command.
    QAbstractButton::keyPressEvent(pEvent);
}

// Releasing Enter clicks the focused button, but only when the key also went down on
// it: a release left over from a key pressed elsewhere (the Enter that started the
// program, or closed another window) must not start anything.
void CBitmapButtonEx::keyReleaseEvent(QKeyEvent* pEvent) {
    if (IsEnterKey(pEvent) && !pEvent->isAutoRepeat()) {
        if (std::exchange(m_bEnterDown, false)) {
            // Queued, like a posted click: the dialog's own Enter handling has run.
            QMetaObject::invokeMethod(this, &QAbstractButton::click, Qt::QueuedConnection);
        }
    }
    QAbstractButton::keyReleaseEvent(pEvent);
}

void CBitmapButtonEx::focusOutEvent(QFocusEvent* pEvent) {
    m_bEnterDown = false;
    QAbstractButton::focusOutEvent(pEvent);
}

// Qt moves the focus on when the focused widget is disabled (Stop disables Start), which
// would put the focus face on a neighbour; the focus is dropped instead.
bool CBitmapButtonEx::focusNextPrevChild(bool bNext) {
    if (!isEnabled())
        return false;
    return QAbstractButton::focusNextPrevChild(bNext);
}
