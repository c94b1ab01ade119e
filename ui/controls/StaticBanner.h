// Clickable picture with hover and pressed images, a hand cursor and a one-line tool
// tip. A click opens its address (when it is one) and tells the owning dialog.
#pragma once

#include "Resource.h"

#include <QCursor>
#include <QLabel>
#include <QPixmap>

#include <array>
#include <optional>
#include <string>

class CStaticBanner : public QLabel {
    Q_OBJECT

public:
    enum class Image { Template, Normal, Hover, Pressed };

    explicit CStaticBanner(QWidget* pParent = nullptr);
    ~CStaticBanner() override;

    // Replaces the three images; once attached, shows the normal one if it loaded.
    void SetBitmaps(UINT nIDNormal, UINT nIDHover, UINT nIDPressed);
    // Attached to its dialog item: tool tips on, hand cursor.
    virtual void PreSubclassWindow();

    Image GetShownImage() const { return m_shown; }
    bool IsPressed() const { return m_bPressed; }

    std::string m_strToolTip; // empty: no tip
    std::string m_strUrl;     // opened on click when it is a URL

    // What a click does, for a press that comes another way (assistive technology).
    void Press() { OnLButtonUp(); }

protected:
    // The mouse came to rest over the banner: hover image, or the pressed one when the
    // left button is already down.
    void OnMouseHover();
    void OnMouseLeave();
    void OnLButtonDown();
    // Opens the address when it is a URL, then posts WM_BANNERCLICKED (wParam 0, lParam
    // this banner) to the parent whether or not anything was opened.
    void OnLButtonUp();

    bool event(QEvent* pEvent) override;
    void enterEvent(QEnterEvent* pEvent) override;
    void leaveEvent(QEvent* pEvent) override;
    void mousePressEvent(QMouseEvent* pEvent) override;
    void mouseReleaseEvent(QMouseEvent* pEvent) override;
    void paintEvent(QPaintEvent* pEvent) override;

private:
    void ShowImage(const QPixmap& bmp, Image image);
    void LoadImagesFor(qreal rDevicePixelRatio);

    std::optional<QCursor> m_cursorHand;
    bool m_bPressed;
    bool m_bAttached;
    QPixmap m_bmpNormal;
    QPixmap m_bmpHover;
    QPixmap m_bmpPressed;
    // The ids the three came from and the device pixel ratio they were loaded for: a
    // screen of another pixel density gets them drawn for it.
    std::array<UINT, 3> m_arrBitmapIds{};
    qreal m_rBitmapRatio = 1.0;
    Image m_shown;
};
