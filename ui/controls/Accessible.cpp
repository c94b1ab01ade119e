#include "Accessible.h"

#include "BitmapButtonEx.h"
#include "BitmapDlg.h"
#include "HyperLink.h"
#include "StaticBanner.h"
#include "StaticEx.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QFontMetrics>
#include <QKeySequence>

#include <algorithm>
#include <memory>

QString StripMnemonic(const QString& strText) {
    QString str;
    str.reserve(strText.size());
    for (qsizetype i = 0; i < strText.size(); ++i) {
        if (strText[i] == u'&') {
            if (++i == strText.size())
                break;
        }
        str.append(strText[i]);
    }
    return str;
}

namespace {

// Set by the window, else what the control itself says.
QString NameOr(const QWidget* pWidget, const QString& strOwn) {
    return pWidget->accessibleName().isEmpty() ? strOwn : pWidget->accessibleName();
}

QString DescriptionOr(const QWidget* pWidget, const std::string& strOwn) {
    return pWidget->accessibleDescription().isEmpty() ? QString::fromStdString(strOwn)
                                                      : pWidget->accessibleDescription();
}

// Whether a modal window keeps the mouse and the keys from the widget's window: every
// window but the modal one and those it owns, or, for a modal window of one window
// only, that window and its owners.
bool IsBlockedByModalWindow(const QWidget* pWidget) {
    const QWidget* pModal = QApplication::activeModalWidget();
    if (!pModal)
        return false;
    const QWidget* pWindow = pWidget->window();
    for (const QWidget* p = pWindow; p;
         p = p->parentWidget() ? p->parentWidget()->window() : nullptr)
        if (p == pModal)
            return false;
    if (pModal->windowModality() == Qt::ApplicationModal)
        return true;
    for (const QWidget* p = pModal->parentWidget(); p; p = p->parentWidget())
        if (p->window() == pWindow)
            return true;
    return false;
}

// A control a screen reader can press, as a click would.
class CAccessiblePressable : public QAccessibleWidget {
public:
    // fnPress clicks the control, which is enabled and takes input when it runs.
    CAccessiblePressable(QWidget* pWidget, QAccessible::Role role, void (*fnPress)(QWidget*))
        : QAccessibleWidget(pWidget, role), m_fnPress(fnPress) {}

    // Press first: it is what a screen reader offers as the control's default action.
    QStringList actionNames() const override {
        QStringList arrActions = QAccessibleWidget::actionNames();
        arrActions.prepend(pressAction());
        return arrActions;
    }

    void doAction(const QString& strAction) override {
        // What a modal window keeps the mouse and keys from, it keeps a reader from too.
        if (IsBlockedByModalWindow(widget()))
            return;
        if (strAction != pressAction()) {
            QAccessibleWidget::doAction(strAction);
            return;
        }
        // The call returns at once and the click follows, as with Qt's own buttons: a click
        // that opens a modal window would otherwise run that window's whole loop inside the
        // reader's call, which gives up waiting for its answer. Until then the control may
        // have been disabled or blocked, or may have gone (the click with it).
        QWidget* pWidget = widget();
        QMetaObject::invokeMethod(
            pWidget,
            [pWidget, fnPress = m_fnPress] {
                if (pWidget->isEnabled() && !IsBlockedByModalWindow(pWidget))
                    fnPress(pWidget);
            },
            Qt::QueuedConnection);
    }

private:
    void (*const m_fnPress)(QWidget*);
};

class CAccessibleBitmapButton final : public CAccessiblePressable {
public:
    explicit CAccessibleBitmapButton(CBitmapButtonEx* pButton)
        : CAccessiblePressable(pButton, QAccessible::Button,
                               [](QWidget* p) { static_cast<CBitmapButtonEx*>(p)->click(); }) {}

    QString text(QAccessible::Text t) const override {
        switch (t) {
        case QAccessible::Name:
            return NameOr(Button(), StripMnemonic(Button()->text()));
        case QAccessible::Description:
            return DescriptionOr(Button(), Button()->m_strToolTip);
        case QAccessible::Accelerator:
            return QKeySequence::mnemonic(Button()->text()).toString(QKeySequence::NativeText);
        default:
            return QAccessibleWidget::text(t);
        }
    }

    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.pressed = Button()->isDown();
        state.hotTracked = Button()->IsHovered();
        return state;
    }

    QStringList keyBindingsForAction(const QString& strAction) const override {
        if (strAction == pressAction()) {
            const QString strKey = text(QAccessible::Accelerator);
            return strKey.isEmpty() ? QStringList() : QStringList(strKey);
        }
        return QAccessibleWidget::keyBindingsForAction(strAction);
    }

private:
    CBitmapButtonEx* Button() const { return static_cast<CBitmapButtonEx*>(widget()); }
};

// A value text: named for what it counts by its window, read as its text. The text is
// also the value, and its Text interface lets a reader take it as it stands ("1.50 MB"
// is no number).
class CAccessibleValueText final : public QAccessibleWidget,
                                   public QAccessibleTextInterface,
                                   public QAccessibleValueInterface {
public:
    explicit CAccessibleValueText(CStaticEx* pText)
        : QAccessibleWidget(pText, QAccessible::StaticText) {}

    void* interface_cast(QAccessible::InterfaceType t) override {
        if (t == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface*>(this);
        if (t == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(t);
    }

    QString text(QAccessible::Text t) const override {
        switch (t) {
        case QAccessible::Name:
            return NameOr(Label(), Label()->text());
        case QAccessible::Value:
            return Label()->text();
        default:
            return QAccessibleWidget::text(t);
        }
    }

    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.readOnly = true;
        return state;
    }

    // ---- Value: the text as shown ----
    QVariant currentValue() const override { return Label()->text(); }
    void setCurrentValue(const QVariant&) override {}
    QVariant maximumValue() const override { return {}; }
    QVariant minimumValue() const override { return {}; }
    QVariant minimumStepSize() const override { return {}; }

    // ---- Text: read-only, one line, no caret or selection ----
    void selection(int, int* pStart, int* pEnd) const override { *pStart = *pEnd = 0; }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    QString text(int nStart, int nEnd) const override {
        const QString str = Label()->text();
        nStart = std::clamp(nStart, 0, static_cast<int>(str.size()));
        nEnd = nEnd < 0 ? static_cast<int>(str.size())
                        : std::clamp(nEnd, nStart, static_cast<int>(str.size()));
        return str.mid(nStart, nEnd - nStart);
    }
    int characterCount() const override { return static_cast<int>(Label()->text().size()); }
    // Screen coordinates, for a text drawn left-aligned from the top of the contents.
    QRect characterRect(int nOffset) const override {
        const QString str = Label()->text();
        if (nOffset < 0 || nOffset >= str.size())
            return {};
        const QFontMetrics fm(Label()->font());
        const QRect rc = Label()->contentsRect();
        const QPoint pt(rc.left() + fm.horizontalAdvance(str.left(nOffset)), rc.top());
        return QRect(Label()->mapToGlobal(pt),
                     QSize(fm.horizontalAdvance(str[nOffset]), fm.height()));
    }
    int offsetAtPoint(const QPoint& ptScreen) const override {
        const QString str = Label()->text();
        const QFontMetrics fm(Label()->font());
        const int x = Label()->mapFromGlobal(ptScreen).x() - Label()->contentsRect().left();
        for (qsizetype i = 0; i < str.size(); ++i)
            if (x < fm.horizontalAdvance(str.left(i + 1)))
                return x < 0 ? -1 : static_cast<int>(i);
        return -1;
    }
    void scrollToSubstring(int, int) override {}
    QString attributes(int, int* pStart, int* pEnd) const override {
        *pStart = 0;
        *pEnd = characterCount();
        return {};
    }

private:
    CStaticEx* Label() const { return static_cast<CStaticEx*>(widget()); }
};

// A banner or a "?": a link, pressed as it is clicked.
class CAccessibleLink final : public CAccessiblePressable {
public:
    explicit CAccessibleLink(CHyperLink* pLink)
        : CAccessiblePressable(pLink, QAccessible::Link,
                               [](QWidget* p) { static_cast<CHyperLink*>(p)->Press(); }),
          m_pLink(pLink), m_pBanner(nullptr) {}
    explicit CAccessibleLink(CStaticBanner* pBanner)
        : CAccessiblePressable(pBanner, QAccessible::Link,
                               [](QWidget* p) { static_cast<CStaticBanner*>(p)->Press(); }),
          m_pLink(nullptr), m_pBanner(pBanner) {}

    QString text(QAccessible::Text t) const override {
        switch (t) {
        case QAccessible::Name:
            // A banner is a picture: its tool tip is what it is called.
            return m_pLink ? NameOr(m_pLink, StripMnemonic(m_pLink->text()))
                           : NameOr(m_pBanner, QString::fromStdString(m_pBanner->m_strToolTip));
        case QAccessible::Description:
            return m_pLink ? DescriptionOr(m_pLink, m_pLink->m_strToolTip)
                           : DescriptionOr(m_pBanner, {});
        case QAccessible::Value:
            // The address, when there is one to open.
            return QString::fromStdString(m_pLink ? m_pLink->m_strUrl : m_pBanner->m_strUrl);
        default:
            return QAccessibleWidget::text(t);
        }
    }

    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.linked = true;
        if (m_pLink)
            state.traversed = m_pLink->IsVisited();
        else
            state.pressed = m_pBanner->IsPressed();
        return state;
    }

private:
    CHyperLink* m_pLink;
    CStaticBanner* m_pBanner;
};

// A skinned dialog's client area, whose children a reader meets in reading order: line by
// line from the top, left to right within a line. The stacking order Qt would follow is
// the template's, turned around, and the picture's texts are not in the template at all.
class CAccessibleClientArea final : public QAccessibleWidget {
public:
    explicit CAccessibleClientArea(QWidget* pArea) : QAccessibleWidget(pArea) {}

    int childCount() const override { return static_cast<int>(ReadingOrder().size()); }

    QAccessibleInterface* child(int nIndex) const override {
        const std::vector<QWidget*> arrChildren = ReadingOrder();
        if (nIndex < 0 || static_cast<std::size_t>(nIndex) >= arrChildren.size())
            return nullptr;
        return QAccessible::queryAccessibleInterface(arrChildren[static_cast<std::size_t>(nIndex)]);
    }

    int indexOfChild(const QAccessibleInterface* pChild) const override {
        if (!pChild)
            return -1;
        const std::vector<QWidget*> arrChildren = ReadingOrder();
        const auto it = std::find(arrChildren.begin(), arrChildren.end(), pChild->object());
        return it == arrChildren.end() ? -1 : static_cast<int>(it - arrChildren.begin());
    }

private:
    // A line starts at the topmost widget left; every further widget whose middle lies
    // within that widget's height is on its line.
    std::vector<QWidget*> ReadingOrder() const {
        std::vector<QWidget*> arrChildren;
        for (QObject* pObject : widget()->children()) {
            auto* pChild = qobject_cast<QWidget*>(pObject);
            if (pChild && !pChild->isWindow())
                arrChildren.push_back(pChild);
        }
        std::stable_sort(arrChildren.begin(), arrChildren.end(),
                         [](QWidget* a, QWidget* b) { return a->y() < b->y(); });
        for (auto itLine = arrChildren.begin(); itLine != arrChildren.end();) {
            const QRect rcFirst = (*itLine)->geometry();
            auto itEnd = std::find_if(itLine + 1, arrChildren.end(), [&rcFirst](QWidget* p) {
                return p->geometry().center().y() > rcFirst.bottom();
            });
            std::stable_sort(itLine, itEnd, [](QWidget* a, QWidget* b) { return a->x() < b->x(); });
            itLine = itEnd;
        }
        return arrChildren;
    }
};

template <class TInterface, class TControl> QAccessibleInterface* Describe(QObject* pObject) {
    auto* pControl = qobject_cast<TControl*>(pObject);
    // Qt's cache owns what the factory hands out.
    return pControl ? std::make_unique<TInterface>(pControl).release() : nullptr;
}

QAccessibleInterface* ControlAccessibilityFactory(const QString& strClass, QObject* pObject) {
    if (strClass == QLatin1String("CBitmapButtonEx"))
        return Describe<CAccessibleBitmapButton, CBitmapButtonEx>(pObject);
    if (strClass == QLatin1String("CStaticEx"))
        return Describe<CAccessibleValueText, CStaticEx>(pObject);
    if (strClass == QLatin1String("CHyperLink"))
        return Describe<CAccessibleLink, CHyperLink>(pObject);
    if (strClass == QLatin1String("CStaticBanner"))
        return Describe<CAccessibleLink, CStaticBanner>(pObject);
    // Not a class of the meta-object system: Qt names it after its base, QWidget.
    if (auto* pArea = dynamic_cast<CBitmapDlg::CClientArea*>(pObject))
        return std::make_unique<CAccessibleClientArea>(pArea).release();
    return nullptr;
}

} // namespace

void InstallControlAccessibility() {
    // Qt keeps one entry per factory.
    QAccessible::installFactory(ControlAccessibilityFactory);
}
