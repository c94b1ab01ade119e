// Skinned dialog: a window whose client area is one picture, sized to that picture,
// moved by dragging it anywhere (a click alone moves nothing), with its controls laid
// out by a dialog template.
#pragma once

#include "DialogTemplates.h"
#include "Gdi.h"
#include "Resource.h"
#include "platform/Types.h"

#include <QDialog>
#include <QIcon>
#include <QPixmap>
#include <QPoint>
#include <QPointer>

#include <map>
#include <memory>
#include <optional>
#include <vector>

class QAbstractButton;
class CPictureText;

class CBitmapDlg : public QDialog {
    Q_OBJECT

public:
    // The icon is loaded here; the window and its controls come into being on Create.
    CBitmapDlg(UINT nIDTemplate, UINT nBitmapId, QWidget* pParent = nullptr);
    ~CBitmapDlg() override;

    // Builds the controls from the template and runs OnInitDialog, once. Showing the
    // dialog (DoModal included) does this first; tests may call it without showing.
    void Create();

    // Runs the dialog modally and answers the value it was ended with.
    int DoModal() { return exec(); }
    void EndDialog(int nResult) { done(nResult); }

    // The control with that id, or nullptr.
    QWidget* GetDlgItem(UINT nId) const;
    // The id of the control a handle names (see HandleOf); 0 when the handle is null or
    // names no live control of this dialog.
    UINT GetDlgCtrlID(LPARAM hWnd) const;
    // The client area: the parent of every control, with the picture at its top-left.
    QWidget* GetClientArea() const;

    // Fills the client area with this colour under the picture (or alone when there is
    // no picture) instead of the default dialog colour.
    void SetBackgroundColor(COLORREF crBackground);

    // A text the picture shows at rc (client pixels), told to assistive technology,
    // which cannot read the picture.
    void AddPictureText(const QRect& rc, const QString& strText);

    // Escape, the window's close command and a Close button with id IDCANCEL all end up
    // here as the IDCANCEL command.
    void reject() override;
    void setVisible(bool bVisible) override;

    // The client area: the picture (over the dialog colour) and the parent of every
    // control. Presses it does not use go on to the dialog, which moves the window.
    class CClientArea : public QWidget {
    public:
        explicit CClientArea(CBitmapDlg& dlg) : QWidget(&dlg), m_dlg(dlg) {}

    protected:
        void paintEvent(QPaintEvent* pEvent) override;
        bool event(QEvent* pEvent) override;

    private:
        CBitmapDlg& m_dlg;
    };

protected:
    // Binds member controls to their template items with DDX_Control.
    virtual void DoDataExchange() {}
    // Builds the controls (DoDataExchange), sets the icon, sizes the window to the
    // picture and centres it, sets the background, calls SetupControls. Overrides call
    // this first. TRUE gives the focus to the first tab-stop control.
    virtual bool OnInitDialog();
    // The default command (Enter) never closes a skinned dialog.
    virtual void OnOK() {}
    virtual void OnCancel() { EndDialog(IDCANCEL); }
    // A button was clicked (or IDOK/IDCANCEL came from the keyboard).
    virtual void OnCommand(UINT nId);
    // A posted window message (see Messages.h) arrived.
    virtual LRESULT OnMessage(UINT nMsg, WPARAM wParam, LPARAM lParam);
    // Places and dresses the controls; called once, at the end of OnInitDialog.
    virtual void SetupControls() = 0;

    // Makes `control` the dialog's control for template item nId: parent, position and
    // size from the template, text or picture, id, enabled and visible state; a button
    // reports its clicks as commands. Then the control's PreSubclassWindow runs. The
    // dialog does not take the control over: whoever owns it still destroys it.
    template <class TControl> void DDX_Control(UINT nId, TControl& control) {
        if (!BindControl(nId, control))
            return;
        if constexpr (requires { control.PreSubclassWindow(); })
            control.PreSubclassWindow();
    }

    bool event(QEvent* pEvent) override;
    void keyPressEvent(QKeyEvent* pEvent) override;
    void mousePressEvent(QMouseEvent* pEvent) override;
    void mouseMoveEvent(QMouseEvent* pEvent) override;
    void mouseReleaseEvent(QMouseEvent* pEvent) override;
    void paintEvent(QPaintEvent* pEvent) override;
    void resizeEvent(QResizeEvent* pEvent) override;

    QIcon m_hIcon;       // icon 128, shared by every skinned dialog
    UINT m_nBitmapId;    // background picture; 0: none
    bool m_bInitialized; // FALSE until the very end of OnInitDialog

private:
    bool BindControl(UINT nId, QWidget& control);
    void CreateUnboundControls();
    void ApplyTemplateOrder();
    void CenterWindow();
    void FocusFirstTabStop();
    QSize FrameSize() const;
    void SetWindowSize(const QSize& size);
    void LayoutClientArea();

    const DialogTemplate* m_pTemplate;
    int m_nFrameX; // own frame per side, in pixels, for windows without a title bar
    int m_nFrameY;
    bool m_bCreated;
    std::unique_ptr<CClientArea> m_pClient;
    // Every control by id. Member controls belong to the dialog class that bound them
    // and may go first; the pointer then reads null.
    std::map<UINT, QPointer<QWidget>> m_mapControls;
    std::vector<std::unique_ptr<QWidget>> m_arrUnbound; // template items no member took
    std::vector<std::unique_ptr<CPictureText>> m_arrPictureTexts;
    QPixmap m_bmpBackground;
    qreal m_rBackgroundRatio = 1.0; // the device pixel ratio it was loaded for
    std::optional<COLORREF> m_crBackground;
    std::optional<QPoint> m_ptPressed;    // left press not yet a move, on the screen
    std::optional<QPoint> m_ptDragOffset; // manual move in progress: cursor - window
};
