// Picture button: separate images for normal, pressed, hover/focus and disabled, a hand
// cursor and an optional tool tip. Enter released on the focused button clicks it.
// Disabled, it takes no mouse input: no hover, no tip, no hand, and a press drags the
// window; a double-click is one click.
#pragma once

#include "Resource.h"

#include <QAbstractButton>
#include <QCursor>
#include <QPixmap>

#include <array>
#include <optional>
#include <string>

class CBitmapButtonEx : public QAbstractButton {
    Q_OBJECT

public:
    // Item state bits of a draw request.
    static constexpr UINT ODS_SELECTED = 0x0001;
    static constexpr UINT ODS_DISABLED = 0x0004;
    static constexpr UINT ODS_FOCUS = 0x0010;

    enum class Image { None, Normal, Selected, Focus, Disabled };

    explicit CBitmapButtonEx(QWidget* pParent = nullptr);
    ~CBitmapButtonEx() override;

    // Drops all four images, then loads the normal one (FALSE, and nothing else loaded,
    // if that fails) and each further id that is not 0. TRUE only if every requested
    // image loaded.
    bool LoadBitmaps(UINT nIDBitmapResource, UINT nIDBitmapResourceSel = 0,
                     UINT nIDBitmapResourceFocus = 0, UINT nIDBitmapResourceDisabled = 0);
    // The size of the normal image, keeping the position.
    void SizeToContent();
    // Attached to its dialog item: tool tips on, hand cursor.
    virtual void PreSubclassWindow();

    // The image a draw request with these state bits shows: pressed beats focus (and
    // hover, which counts as focus), the disabled image replaces only the normal one.
    static Image ChooseImage(UINT nItemState, bool bHasSelected, bool bHasFocus, bool bHasDisabled);
    // The image the button shows now.
    Image GetDrawnImage() const;
    const QPixmap& GetNormalBitmap() const { return m_bmpNormal; }
    bool IsHovered() const { return m_bHover; }

    std::string m_strToolTip; // empty: no tip

    QSize sizeHint() const override;

protected:
    // Copies the image for the state unscaled into the button, from its top-left corner.
    virtual void DrawItem(QPainter& painter, UINT nItemState);
    UINT GetItemState() const;
    UINT DrawnState(UINT nItemState) const;

    bool event(QEvent* pEvent) override;
    void paintEvent(QPaintEvent* pEvent) override;
    void changeEvent(QEvent* pEvent) override;
    void enterEvent(QEnterEvent* pEvent) override;
    void leaveEvent(QEvent* pEvent) override;
    void mouseDoubleClickEvent(QMouseEvent* pEvent) override;
    void keyPressEvent(QKeyEvent* pEvent) override;
    void keyReleaseEvent(QKeyEvent* pEvent) override;
    void focusOutEvent(QFocusEvent* pEvent) override;
    bool focusNextPrevChild(bool bNext) override;

    // Loads the four images for that device pixel ratio; TRUE if every requested one
    // loaded.
    bool LoadImagesFor(qreal rDevicePixelRatio);

    QPixmap m_bmpNormal; // required
    QPixmap m_bmpSelected;
    QPixmap m_bmpFocus; // keyboard focus, and hover
    QPixmap m_bmpDisabled;
    // The ids the four came from, so that a screen of another pixel density gets them
    // drawn for it.
    std::array<UINT, 4> m_arrBitmapIds{};
    qreal m_rBitmapRatio = 1.0;          // the device pixel ratio they were loaded for
    std::optional<QCursor> m_cursorHand; // once attached
    bool m_bHover;
    bool m_bEnterDown; // Enter went down while this button had the focus
};
