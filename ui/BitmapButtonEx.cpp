#include "BitmapButtonEx.h"

#include "Bitmaps.h"
#include "ToolTip.h"

#include <QHelpEvent>
#include <QKeyEvent>
#include <QPainter>

#include <utility>

CBitmapButtonEx::CBitmapButtonEx(QWidget* pParent)
    : QAbstractButton(pParent), m_bHover(false), m_bEnterDown(false) {}

CBitmapButtonEx::~CBitmapButtonEx() = default;

bool CBitmapButtonEx::LoadBitmaps(UINT nIDBitmapResource, UINT nIDBitmapResourceSel,
                                  UINT nIDBitmapResourceFocus, UINT nIDBitmapResourceDisabled) {
    m_bitmap = QPixmap();
    m_bitmapSel = QPixmap();
    m_bitmapFocus = QPixmap();
    m_bitmapDisabled = QPixmap();

    m_bitmap = LoadBitmap(nIDBitmapResource);
    bool bAllLoaded = !m_bitmap.isNull();
    if (bAllLoaded) {
        const auto load = [&bAllLoaded](QPixmap& bmp, UINT nId) {
            if (nId == 0)
                return;
            bmp = LoadBitmap(nId);
            bAllLoaded = bAllLoaded && !bmp.isNull();
        };
        load(m_bitmapSel, nIDBitmapResourceSel);
        load(m_bitmapFocus, nIDBitmapResourceFocus);
        load(m_bitmapDisabled, nIDBitmapResourceDisabled);
    }
    update();
    return bAllLoaded;
}

void CBitmapButtonEx::SizeToContent() {
    if (!m_bitmap.isNull())
        resize(m_bitmap.size());
}

void CBitmapButtonEx::PreSubclassWindow() {
    if (!m_hCursor)
        m_hCursor = QCursor(Qt::PointingHandCursor);
    setCursor(*m_hCursor);
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
    if (m_bitmap.isNull())
        return Image::None;
    return ChooseImage(nState, !m_bitmapSel.isNull(), !m_bitmapFocus.isNull(),
                       !m_bitmapDisabled.isNull());
}

void CBitmapButtonEx::DrawItem(QPainter& painter, UINT nItemState) {
    if (m_bitmap.isNull())
        return;
    if (m_bHover)
        nItemState |= ODS_FOCUS;
    const QPixmap* pImage = &m_bitmap;
    switch (ChooseImage(nItemState, !m_bitmapSel.isNull(), !m_bitmapFocus.isNull(),
                        !m_bitmapDisabled.isNull())) {
    case Image::Selected:
        pImage = &m_bitmapSel;
        break;
    case Image::Focus:
        pImage = &m_bitmapFocus;
        break;
    case Image::Disabled:
        pImage = &m_bitmapDisabled;
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
    return m_bitmap.isNull() ? QSize(0, 0) : m_bitmap.size();
}

bool CBitmapButtonEx::event(QEvent* pEvent) {
    if (pEvent->type() == QEvent::ToolTip) {
        ShowControlToolTip(this, static_cast<QHelpEvent*>(pEvent), m_strToolTip, kToolTipMaxWidth);
        return true;
    }
    return QAbstractButton::event(pEvent);
}

void CBitmapButtonEx::enterEvent(QEnterEvent* pEvent) {
    m_bHover = true;
    update();
    QAbstractButton::enterEvent(pEvent);
}

// Also reaches a button that was disabled while hovered: it keeps its hover image until
// the mouse leaves.
void CBitmapButtonEx::leaveEvent(QEvent* pEvent) {
    m_bHover = false;
    update();
    QAbstractButton::leaveEvent(pEvent);
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
