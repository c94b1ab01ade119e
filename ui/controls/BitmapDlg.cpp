#include "BitmapDlg.h"

#include "Bitmaps.h"
#include "Messages.h"
#include "PictureText.h"

#include <QAbstractButton>
#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTreeWidget>
#include <QWindow>

#include <algorithm>
#include <utility>

namespace {

// System metrics of the classic dialog frames, in pixels.
constexpr int SM_CXBORDER = 1;
constexpr int SM_CXDLGFRAME = 3;

// Colour of the frame a caption-less window draws around its picture.
constexpr COLORREF kFrameColour = kHouseText;

bool HasCaption(const DialogTemplate* pTemplate) {
    return pTemplate && (pTemplate->dwStyle & WS_CAPTION) == WS_CAPTION;
}

// A window with a caption keeps the window manager's title bar and frame; one without
// draws no title bar and only the thin frame its style asks for.
Qt::WindowFlags WindowFlagsFor(const DialogTemplate* pTemplate) {
    Qt::WindowFlags flags = Qt::Dialog;
    if (!HasCaption(pTemplate))
        return flags | Qt::FramelessWindowHint;
    flags |= Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (pTemplate->dwStyle & WS_MAXIMIZEBOX)
        flags |= Qt::WindowMaximizeButtonHint;
    return flags;
}

// Frame thickness per side of a caption-less window; the first matching style wins.
int FrameThickness(const DialogTemplate* pTemplate) {
    if (!pTemplate || HasCaption(pTemplate))
        return 0;
    const DWORD dwStyle = pTemplate->dwStyle;
    if (dwStyle & DS_MODALFRAME)
        return SM_CXDLGFRAME;
    if (dwStyle & WS_BORDER)
        return SM_CXBORDER;
    if (dwStyle & WS_THICKFRAME)
        return 2 * SM_CXDLGFRAME;
    return 0;
}

const DialogItem* FindItem(const DialogTemplate* pTemplate, UINT nId) {
    if (!pTemplate)
        return nullptr;
    for (const DialogItem& item : pTemplate->arrItems)
        if (item.nId == nId)
            return &item;
    return nullptr;
}

QString FromUtf8(std::string_view str) {
    return QString::fromUtf8(str.data(), static_cast<qsizetype>(str.size()));
}

// The plain control the template asks for where no member control takes the item.
std::unique_ptr<QWidget> CreateStockControl(const DialogItem& item) {
    switch (item.itemClass) {
    case DialogItemClass::Button: {
        auto pButton = std::make_unique<QPushButton>();
        pButton->setAutoDefault(false); // Enter never clicks a button it has not focused
        return pButton;
    }
    case DialogItemClass::Static:
        return std::make_unique<QLabel>();
    case DialogItemClass::ProgressBar:
        return std::make_unique<QProgressBar>();
    case DialogItemClass::ListView:
        return std::make_unique<QTreeWidget>();
    }
    return std::make_unique<QWidget>();
}

// Whether a top-level window can place itself on the screen: not on Wayland, where
// only the compositor does.
bool CanPlaceWindows() {
    return !QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

} // namespace

void CBitmapDlg::CClientArea::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QColor colour =
        m_dlg.m_crBackground ? ToQColor(*m_dlg.m_crBackground) : palette().color(QPalette::Window);
    painter.fillRect(rect(), colour);
    // The window may have moved to a screen of another pixel density since.
    if (!m_dlg.m_bmpBackground.isNull() && m_dlg.m_rBackgroundRatio != devicePixelRatioF()) {
        m_dlg.m_rBackgroundRatio = devicePixelRatioF();
        m_dlg.m_bmpBackground = LoadBitmap(m_dlg.m_nBitmapId, m_dlg.m_rBackgroundRatio);
    }
    if (!m_dlg.m_bmpBackground.isNull())
        painter.drawPixmap(QPoint(0, 0), m_dlg.m_bmpBackground);
}

// Controls post their messages to their parent; the dialog is the one to answer.
bool CBitmapDlg::CClientArea::event(QEvent* pEvent) {
    if (auto* pMessage = dynamic_cast<CMessageEvent*>(pEvent)) {
        m_dlg.OnMessage(pMessage->GetMessage(), pMessage->m_wParam, pMessage->m_lParam);
        return true;
    }
    return QWidget::event(pEvent);
}

CBitmapDlg::CBitmapDlg(UINT nIDTemplate, UINT nBitmapId, QWidget* pParent)
    : QDialog(pParent, WindowFlagsFor(FindDialogTemplate(nIDTemplate))),
      m_hIcon(LoadIcon(IDR_MAINFRAME)), m_nBitmapId(nBitmapId), m_bInitialized(false),
      m_pTemplate(FindDialogTemplate(nIDTemplate)), m_nFrameX(FrameThickness(m_pTemplate)),
      m_nFrameY(m_nFrameX), m_bCreated(false), m_pClient(std::make_unique<CClientArea>(*this)) {
    if (m_pTemplate) {
        // Point size to pixels at 96 dots per inch, as the template's font was meant.
        const int nEmPixels = (m_pTemplate->nPointSize * 96 + 36) / 72;
        setFont(CreateDialogFont(-nEmPixels, m_pTemplate->nWeight, false,
                                 std::string(m_pTemplate->strFaceName)));
        if (!m_pTemplate->strCaption.empty())
            setWindowTitle(FromUtf8(m_pTemplate->strCaption));
        SetWindowSize(QSize(DluToPixelsX(m_pTemplate->cx), DluToPixelsY(m_pTemplate->cy)) +
                      FrameSize());
    }
}

CBitmapDlg::~CBitmapDlg() {
    // Bound member controls still alive are not ours to delete with the client area.
    m_arrUnbound.clear();
    for (const auto& [nId, pControl] : m_mapControls)
        if (pControl)
            pControl->setParent(nullptr);
}

void CBitmapDlg::Create() {
    if (m_bCreated)
        return;
    m_bCreated = true;
    if (OnInitDialog())
        FocusFirstTabStop();
}

void CBitmapDlg::setVisible(bool bVisible) {
    if (bVisible)
        Create();
    QDialog::setVisible(bVisible);
}

QWidget* CBitmapDlg::GetDlgItem(UINT nId) const {
    const auto it = m_mapControls.find(nId);
    return it == m_mapControls.end() ? nullptr : it->second.data();
}

UINT CBitmapDlg::GetDlgCtrlID(LPARAM hWnd) const {
    if (hWnd == 0)
        return 0;
    for (const auto& [nId, pControl] : m_mapControls)
        if (pControl && HandleOf(pControl) == hWnd)
            return nId;
    return 0;
}

QWidget* CBitmapDlg::GetClientArea() const {
    return m_pClient.get();
}

void CBitmapDlg::SetBackgroundColor(COLORREF crBackground) {
    m_crBackground = crBackground;
    m_pClient->update();
}

void CBitmapDlg::AddPictureText(const QRect& rc, const QString& strText) {
    m_arrPictureTexts.push_back(std::make_unique<CPictureText>(strText, rc, m_pClient.get()));
}

bool CBitmapDlg::OnInitDialog() {
    // The controls, as the template lays them out; member controls first.
    DoDataExchange();
    CreateUnboundControls();
    ApplyTemplateOrder();

    setWindowIcon(m_hIcon);

    // Sized to the picture; a picture that cannot be loaded reads as 0 x 0.
    if (m_nBitmapId != 0) {
        m_rBackgroundRatio = devicePixelRatioF();
        m_bmpBackground = LoadBitmap(m_nBitmapId, m_rBackgroundRatio);
        // A picture does not stretch: the window declares one size as its least and its
        // most, so tiling window managers float it and neither maximising nor a drag of
        // its edge changes it.
        const QSize size = BitmapSize(m_bmpBackground) + FrameSize();
        setFixedSize(size);
        SetWindowSize(size);
    }
    CenterWindow();
    m_pClient->update();

    SetupControls();

    m_bInitialized = true;
    return true;
}

void CBitmapDlg::OnCommand(UINT nId) {
    if (nId == IDOK)
        OnOK();
    else if (nId == IDCANCEL)
        OnCancel();
}

LRESULT CBitmapDlg::OnMessage(UINT, WPARAM, LPARAM) {
    return 0;
}

void CBitmapDlg::reject() {
    OnCommand(IDCANCEL);
}

bool CBitmapDlg::BindControl(UINT nId, QWidget& control) {
    if (m_mapControls.contains(nId))
        return false; // one control per id: the first binding stands
    control.setParent(m_pClient.get());
    control.setObjectName(QStringLiteral("IDC_%1").arg(nId));
    m_mapControls[nId] = &control;

    const DialogItem* pItem = FindItem(m_pTemplate, nId);
    if (!pItem) {
        control.show();
        return true;
    }
    control.setGeometry(DluToPixelsX(pItem->x), DluToPixelsY(pItem->y), DluToPixelsX(pItem->cx),
                        DluToPixelsY(pItem->cy));

    const bool bStatic = pItem->itemClass == DialogItemClass::Static;
    if (auto* pLabel = qobject_cast<QLabel*>(&control)) {
        pLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        if (bStatic && (pItem->dwStyle & SS_TYPEMASK) == SS_BITMAP) {
            // A picture static takes the size of its picture.
            const QPixmap bmp = LoadBitmap(pItem->nImageId, control.devicePixelRatioF());
            if (!bmp.isNull()) {
                pLabel->setPixmap(bmp);
                pLabel->resize(BitmapSize(bmp));
            }
        } else {
            pLabel->setTextFormat(Qt::PlainText);
            pLabel->setWordWrap((pItem->dwStyle & SS_TYPEMASK) == SS_LEFT);
            pLabel->setText(FromUtf8(pItem->strText));
        }
    } else if (auto* pButton = qobject_cast<QAbstractButton*>(&control)) {
        pButton->setText(FromUtf8(pItem->strText));
        connect(pButton, &QAbstractButton::clicked, this, [this, nId] { OnCommand(nId); });
    } else if (auto* pBar = qobject_cast<QProgressBar*>(&control)) {
        pBar->setTextVisible(false); // a progress bar of the template shows no percentage
        // It takes its presses itself, as every control but a plain text does: a press
        // on it does not reach the dialog, so it does not drag the window.
        pBar->setAttribute(Qt::WA_NoMousePropagation);
    }

    if (pItem->dwStyle & WS_TABSTOP)
        control.setFocusPolicy(Qt::StrongFocus);
    else if (pItem->itemClass == DialogItemClass::Button)
        control.setFocusPolicy(Qt::ClickFocus);
    else
        control.setFocusPolicy(Qt::NoFocus);
    // A static without the notify style lets the mouse through, so it drags the window.
    if (bStatic && !(pItem->dwStyle & SS_NOTIFY))
        control.setAttribute(Qt::WA_TransparentForMouseEvents);

    control.setEnabled(!(pItem->dwStyle & WS_DISABLED));
    control.setVisible((pItem->dwStyle & WS_VISIBLE) != 0);
    return true;
}

void CBitmapDlg::CreateUnboundControls() {
    if (!m_pTemplate)
        return;
    for (const DialogItem& item : m_pTemplate->arrItems) {
        if (m_mapControls.contains(item.nId))
            continue;
        auto pControl = CreateStockControl(item);
        if (BindControl(item.nId, *pControl))
            m_arrUnbound.push_back(std::move(pControl));
    }
}

// The first item of the template is the top of the stacking order and the start of the
// tab order, whatever order the members were bound in.
void CBitmapDlg::ApplyTemplateOrder() {
    if (!m_pTemplate)
        return;
    const auto& arrItems = m_pTemplate->arrItems;
    for (auto it = arrItems.rbegin(); it != arrItems.rend(); ++it)
        if (QWidget* pControl = GetDlgItem(it->nId))
            pControl->raise();
    QWidget* pPrevious = nullptr;
    for (const DialogItem& item : arrItems) {
        QWidget* pControl = GetDlgItem(item.nId);
        if (!pControl || pControl->focusPolicy() == Qt::NoFocus)
            continue;
        if (pPrevious)
            QWidget::setTabOrder(pPrevious, pControl);
        pPrevious = pControl;
    }
}

void CBitmapDlg::FocusFirstTabStop() {
    if (!m_pTemplate)
        return;
    for (const DialogItem& item : m_pTemplate->arrItems) {
        QWidget* pControl = GetDlgItem(item.nId);
        if (pControl && pControl->isEnabled() && !pControl->isHidden() &&
            (pControl->focusPolicy() & Qt::TabFocus)) {
            pControl->setFocus(Qt::TabFocusReason);
            return;
        }
    }
}

// Over the owner when it is shown and not minimised, else in the work area of the
// screen the owner (or the active window) is on; kept inside that work area.
void CBitmapDlg::CenterWindow() {
    QWidget* pOwner = parentWidget() ? parentWidget()->window() : nullptr;
    QScreen* pScreen = nullptr;
    if (pOwner)
        pScreen = pOwner->screen();
    else if (QWidget* pActive = QApplication::activeWindow())
        pScreen = pActive->screen();
    if (!pScreen)
        pScreen = QGuiApplication::primaryScreen();
    const QRect rcWork = pScreen ? pScreen->availableGeometry() : QRect();

    QRect rcArea = rcWork;
    if (pOwner && pOwner != this && pOwner->isVisible() && !pOwner->isMinimized())
        rcArea = pOwner->frameGeometry();
    if (rcArea.isEmpty())
        return;

    QRect rcWindow = frameGeometry();
    rcWindow.moveCenter(rcArea.center());
    if (!rcWork.isEmpty()) {
        rcWindow.moveLeft(std::max(
            rcWork.left(), std::min(rcWindow.left(), rcWork.right() - rcWindow.width() + 1)));
        rcWindow.moveTop(std::max(
            rcWork.top(), std::min(rcWindow.top(), rcWork.bottom() - rcWindow.height() + 1)));
    }
    move(rcWindow.topLeft());
}

// Resizes at once, client area included: a hidden window gets its resize event only
// when shown, and SetupControls reads the client size before that.
void CBitmapDlg::SetWindowSize(const QSize& size) {
    resize(size);
    LayoutClientArea();
}

void CBitmapDlg::LayoutClientArea() {
    m_pClient->setGeometry(QRect(QPoint(m_nFrameX, m_nFrameY), size() - FrameSize()));
}

QSize CBitmapDlg::FrameSize() const {
    return QSize(2 * m_nFrameX, 2 * m_nFrameY);
}

bool CBitmapDlg::event(QEvent* pEvent) {
    if (auto* pMessage = dynamic_cast<CMessageEvent*>(pEvent)) {
        OnMessage(pMessage->GetMessage(), pMessage->m_wParam, pMessage->m_lParam);
        return true;
    }
    return QDialog::event(pEvent);
}

void CBitmapDlg::keyPressEvent(QKeyEvent* pEvent) {
    if (pEvent->matches(QKeySequence::Cancel)) {
        reject();
        return;
    }
    const bool bPlain =
        pEvent->modifiers() == Qt::NoModifier ||
        (pEvent->modifiers() == Qt::KeypadModifier && pEvent->key() == Qt::Key_Enter);
    if (bPlain && (pEvent->key() == Qt::Key_Return || pEvent->key() == Qt::Key_Enter)) {
        OnCommand(IDOK);
        return;
    }
    // Not QDialog's handling: it would click a default push button on Enter.
    QWidget::keyPressEvent(pEvent);
}

// A press only arms the move: it starts once the pointer has gone the platform's drag
// distance with the button still held, as a drag by a title bar does. Asked for at the
// press, a window manager that gets the request after a quick click's release waits for
// a release that never comes, and the window follows the bare pointer. Asked for at the
// drag distance, it moves the window on from where the pointer has got to by then, so
// the window slips by that distance under the pointer: where windows can be placed
// (X11), the window follows the pointer itself, from the point that was grabbed.
void CBitmapDlg::mousePressEvent(QMouseEvent* pEvent) {
    if (pEvent->button() != Qt::LeftButton) {
        QDialog::mousePressEvent(pEvent);
        return;
    }
    pEvent->accept();
    m_ptDragOffset.reset();
    m_ptPressed = pEvent->globalPosition().toPoint();
}

void CBitmapDlg::mouseMoveEvent(QMouseEvent* pEvent) {
    if (!(pEvent->buttons() & Qt::LeftButton)) {
        m_ptPressed.reset();
        m_ptDragOffset.reset();
        QDialog::mouseMoveEvent(pEvent);
        return;
    }
    const QPoint ptCursor = pEvent->globalPosition().toPoint();
    if (m_ptPressed &&
        (ptCursor - *m_ptPressed).manhattanLength() >= QApplication::startDragDistance()) {
        const QPoint ptPressed = *std::exchange(m_ptPressed, std::nullopt);
        // Where a window cannot place itself (Wayland), the compositor moves it.
        if (QWindow* pWindow = windowHandle();
            pWindow && !CanPlaceWindows() && pWindow->startSystemMove()) {
            pEvent->accept();
            return;
        }
        m_ptDragOffset = ptPressed - pos();
    }
    if (m_ptDragOffset) {
        move(ptCursor - *m_ptDragOffset);
        pEvent->accept();
        return;
    }
    QDialog::mouseMoveEvent(pEvent);
}

void CBitmapDlg::mouseReleaseEvent(QMouseEvent* pEvent) {
    if (pEvent->button() == Qt::LeftButton && (m_ptPressed || m_ptDragOffset)) {
        m_ptPressed.reset();
        m_ptDragOffset.reset();
        pEvent->accept();
        return;
    }
    QDialog::mouseReleaseEvent(pEvent);
}

void CBitmapDlg::paintEvent(QPaintEvent*) {
    if (m_nFrameX == 0 && m_nFrameY == 0)
        return;
    QPainter painter(this);
    painter.fillRect(rect(), ToQColor(kFrameColour));
}

void CBitmapDlg::resizeEvent(QResizeEvent* pEvent) {
    QDialog::resizeEvent(pEvent);
    LayoutClientArea();
    if (m_bInitialized) {
        update();
        m_pClient->update();
    }
}
