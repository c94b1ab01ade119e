#include "PictureText.h"

CPictureText::CPictureText(const QString& strText, const QRect& rc, QWidget* pParent)
    : QLabel(pParent) {
    setTextFormat(Qt::PlainText);
    setWordWrap(true);
    setText(strText);
    setGeometry(rc);
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    show();
}

CPictureText::~CPictureText() = default;

// The picture under it shows the text already.
void CPictureText::paintEvent(QPaintEvent*) {}
