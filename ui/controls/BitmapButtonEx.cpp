#include "BitmapButtonEx.h"

#include "Bitmaps.h"
#include "ToolTip.h"

#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <utility>

CBitmapButtonEx::CBitmapButtonEx(QWidget* pParent)
    : QAbstractButton(pParent), m_bHover(false), m_bEnterDown(false) {}

CBitmapButtonEx::~CBitmapButtonEx() = default;

bool CBitmapButtonEx::LoadBitmaps(UINT nIDBitmapResource, UINT nIDBitmapResourceSel,
                                  UINT nIDBitmapResourceFocus, UINT nIDBitmapResourceDisabled) {
    m_arrBitmapIds = {nIDBitmapResource, nIDBitmapResourceSel, nIDBitmapResourceFocus,
                      nIDBitmapResourceDisabled};
    const bool bAllLoaded = LoadImagesFor(devicePixelRatioF());
    update();
    return bAllLoaded;
}

bool CBitmapButtonEx::LoadImagesFor(qreal rDevicePixelRatio) {
    m_rBitmapRatio = rDevicePixelRatio;
    m_bmpNormal = QPixmap();
    m_bmpSelected = QPixmap();
    m_bmpFocus = QPixmap();
    m_bmpDisabled = QPixmap();

    const auto& [nNormal, nSelected, nFocus, nDisabled] = m_arrBitmapIds;
    m_bmpNormal = LoadBitmap(nNormal, rDevicePixelRatio);
    bool bAllLoaded = !m_bmpNormal.isNull();
    if (bAllLoaded) {
        const auto load = [&bAllLoaded, rDevicePixelRatio](QPixmap& bmp, UINT nId) {
            if (nId == 0)
                return;
            bmp = LoadBitmap(nId, rDevicePixelRatio);
            bAllLoaded = bAllLoaded && !bmp.isNull();
        };
        load(m_bmpSelected, nSelected);
        load(m_bmpFocus, nFocus);
        load(m_bmpDisabled, nDisabled);
    }
    return bAllLoaded;
}

void CBitmapButtonEx::SizeToContent() {
    if (!m_bmpNormal.isNull())
        resize(BitmapSize(m_bmpNormal));
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

// Hovering shows the focus image, also on a button disabled under the pointer (a Stop
// just pressed) until the pointer leaves it: it takes no press meanwhile.
UINT CBitmapButtonEx::DrawnState(UINT nItemState) const {
    return m_bHover ? nItemState | ODS_FOCUS : nItemState;
}

CBitmapButtonEx::Image CBitmapButtonEx::GetDrawnImage() const {
    if (m_bmpNormal.isNull())
        return Image::None;
    return ChooseImage(DrawnState(GetItemState()), !m_bmpSelected.isNull(), !m_bmpFocus.isNull(),
                       !m_bmpDisabled.isNull());
}

void CBitmapButtonEx::DrawItem(QPainter& painter, UINT nItemState) {
    if (m_bmpNormal.isNull())
        return;
    const QPixmap* pImage = &m_bmpNormal;
    switch (ChooseImage(DrawnState(nItemState), !m_bmpSelected.isNull(), !m_bmpFocus.isNull(),
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
    // The source rectangle counts the image's own pixels, more than one a pixel on a
    // high-density screen.
    painter.drawPixmap(QPointF(0, 0), *pImage,
                       QRectF(QPointF(0, 0), QSizeF(size()) * pImage->devicePixelRatio()));
}

void CBitmapButtonEx::paintEvent(QPaintEvent*) {
    // The window may have moved to a screen of another pixel density since the images
    // were loaded.
    if (!m_bmpNormal.isNull() && m_rBitmapRatio != devicePixelRatioF())
        LoadImagesFor(devicePixelRatioF());
    QPainter painter(this);
    DrawItem(painter, GetItemState());
}

QSize CBitmapButtonEx::sizeHint() const {
    return m_bmpNormal.isNull() ? QSize(0, 0) : BitmapSize(m_bmpNormal);
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
    // Keys can reach the focused button of a window that the window system has not made
    // active again (a modal window closed where no window manager hands the focus back).
    // The window takes the keys, so it is made the active one: the focus then shows where
    // they go, and Tab moves it there.
    if (pEvent->type() == QEvent::KeyPress && !isActiveWindow())
        activateWindow();
    return QAbstractButton::event(pEvent);
}

void CBitmapButtonEx::changeEvent(QEvent* pEvent) {
    if (pEvent->type() == QEvent::EnabledChange) {
        // Enabled under the pointer, it hovers at once; disabled, it keeps its hover
        // until the pointer leaves.
        if (isEnabled() && underMouse())
            m_bHover = true;
        update();
        if (m_cursorHand) {
            if (isEnabled())
                setCursor(*m_cursorHand);
            else
                unsetCursor();
        }
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

// Also reaches a button disabled while hovered, which ends its hover image.
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
