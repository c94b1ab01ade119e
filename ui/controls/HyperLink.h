// Underlined text link with link, hover and visited colours and a wrapping tool tip. A
// click opens its address, or, without one, tells the owning dialog.
#pragma once

#include "Gdi.h"

#include <QCursor>
#include <QFont>
#include <QLabel>

#include <optional>
#include <string>

class CHyperLink : public QLabel {
    Q_OBJECT

public:
    explicit CHyperLink(QWidget* pParent = nullptr);
    ~CHyperLink() override;

    // Attached to its dialog item: takes mouse input, tool tips on, the control's font
    // underlined, hand cursor.
    virtual void PreSubclassWindow();

    // The colour the text is drawn in now: visited wins over hover, hover over link.
    COLORREF GetCurrentColor() const;
    bool IsVisited() const { return m_bVisited; }
    bool IsOverControl() const { return m_bOverControl; }

    std::string m_strToolTip; // empty: no tip
    std::string m_strUrl;     // opened on click when it is a URL
    COLORREF m_crLink;        // may be changed by the dialog at any time
    COLORREF m_crHover;
    COLORREF m_crVisited;

    // What a click does, for a press that comes another way (assistive technology).
    void Press() { OnClicked(); }

protected:
    // Opens the address when it is a URL, else posts WM_LINKCLICKED (wParam 0, lParam
    // this link) to the parent; either way the link is visited from now on.
    void OnClicked();

    bool event(QEvent* pEvent) override;
    void paintEvent(QPaintEvent* pEvent) override;
    void enterEvent(QEnterEvent* pEvent) override;
    void leaveEvent(QEvent* pEvent) override;
    void mousePressEvent(QMouseEvent* pEvent) override;
    void mouseDoubleClickEvent(QMouseEvent* pEvent) override;

private:
    std::optional<QCursor> m_cursorHand;
    bool m_bOverControl;
    bool m_bVisited;
    QFont m_fontUnderline;
};
