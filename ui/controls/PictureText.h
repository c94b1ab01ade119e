// A text drawn into a dialog's picture, given to assistive technology where the picture
// shows it: a label that paints nothing and takes neither mouse nor focus.
#pragma once

#include <QLabel>
#include <QString>

class CPictureText : public QLabel {
public:
    CPictureText(const QString& strText, const QRect& rc, QWidget* pParent);
    ~CPictureText() override;

protected:
    void paintEvent(QPaintEvent* pEvent) override;
};
