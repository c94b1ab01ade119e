#include "StaticBanner.h"

#include "Bitmaps.h"
#include "Messages.h"
#include "Shell.h"
#include "ToolTip.h"

#include <QGuiApplication>
#include <QHelpEvent>
#include <QMouseEvent>

CStaticBanner::CStaticBanner(QWidget* pParent)
    : QLabel(pParent), m_bPressed(false), m_bAttached(false), m_shown(Image::Template) {}

CStaticBanner::~CStaticBanner() = default;

void CStaticBanner::SetBitmaps(UINT nIDNormal, UINT nIDHover, UINT nIDPressed) {
    m_arrBitmapIds = {nIDNormal, nIDHover, nIDPressed};
    LoadImagesFor(devicePixelRatioF());
    if (m_bAttached)
        ShowImage(m_bmpNormal, Image::Normal);
}

void CStaticBanner::LoadImagesFor(qreal rDevicePixelRatio) {
    m_rBitmapRatio = rDevicePixelRatio;
    m_bmpNormal = LoadBitmap(m_arrBitmapIds[0], rDevicePixelRatio);
    m_bmpHover = LoadBitmap(m_arrBitmapIds[1], rDevicePixelRatio);
    m_bmpPressed = LoadBitmap(m_arrBitmapIds[2], rDevicePixelRatio);
}

void CStaticBanner::PreSubclassWindow() {
    m_bAttached = true;
    if (!m_cursorHand)
        m_cursorHand = QCursor(Qt::PointingHandCursor);
    setCursor(*m_cursorHand);
}

// An image that did not load leaves the one shown; a picture static takes the size of
// what it shows.
void CStaticBanner::ShowImage(const QPixmap& bmp, Image image) {
    if (bmp.isNull())
        return;
    setPixmap(bmp);
    resize(BitmapSize(bmp));
    m_shown = image;
}

// The window may have moved to a screen of another pixel density since the images were
// loaded: the one shown is swapped for its new drawing before the label paints it.
void CStaticBanner::paintEvent(QPaintEvent* pEvent) {
    if (m_arrBitmapIds[0] != 0 && m_rBitmapRatio != devicePixelRatioF()) {
        LoadImagesFor(devicePixelRatioF());
        switch (m_shown) {
        case Image::Normal:
            ShowImage(m_bmpNormal, m_shown);
            break;
        case Image::Hover:
            ShowImage(m_bmpHover, m_shown);
            break;
        case Image::Pressed:
            ShowImage(m_bmpPressed, m_shown);
            break;
        case Image::Template:
            break;
        }
    }
    QLabel::paintEvent(pEvent);
}

void CStaticBanner::OnMouseHover() {
    m_bPressed = (QGuiApplication::mouseButtons() & Qt::LeftButton) != 0;
    if (m_bPressed)
        ShowImage(m_bmpPressed, Image::Pressed);
    else
        ShowImage(m_bmpHover, Image::Hover);
}

void CStaticBanner::OnMouseLeave() {
    m_bPressed = false;
    ShowImage(m_bmpNormal, Image::Normal);
}

void CStaticBanner::OnLButtonDown() {
    m_bPressed = true;
    ShowImage(m_bmpPressed, Image::Pressed);
}

void CStaticBanner::OnLButtonUp() {
    m_bPressed = false; // the image stays until the mouse rests or leaves
    if (PathIsURL(m_strUrl))
        ShellOpenUrl(m_strUrl);
    if (QWidget* pParent = parentWidget())
        PostWindowMessage(pParent, WM_BANNERCLICKED, 0, HandleOf(this));
}

bool CStaticBanner::event(QEvent* pEvent) {
    if (pEvent->type() == QEvent::ToolTip) {
        ShowControlToolTip(this, static_cast<QHelpEvent*>(pEvent), m_strToolTip, 0);
        return true;
    }
    return QLabel::event(pEvent);
}

void CStaticBanner::enterEvent(QEnterEvent* pEvent) {
    OnMouseHover();
    QLabel::enterEvent(pEvent);
}

void CStaticBanner::leaveEvent(QEvent* pEvent) {
    OnMouseLeave();
    QLabel::leaveEvent(pEvent);
}

void CStaticBanner::mousePressEvent(QMouseEvent* pEvent) {
    if (pEvent->button() != Qt::LeftButton) {
        QLabel::mousePressEvent(pEvent);
        return;
    }
    pEvent->accept();
    OnLButtonDown();
}

// A release counts as a click only over the banner: pressing and then sliding off it
// backs out.
void CStaticBanner::mouseReleaseEvent(QMouseEvent* pEvent) {
    if (pEvent->button() != Qt::LeftButton) {
        QLabel::mouseReleaseEvent(pEvent);
        return;
    }
    pEvent->accept();
    if (rect().contains(pEvent->position().toPoint()))
        OnLButtonUp();
    else
        m_bPressed = false;
}
