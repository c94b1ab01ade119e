// What assistive technology (a screen reader over AT-SPI) learns of the controls we paint
// ourselves. Qt describes its own widgets; ours draw pictures in place of text, so they
// say here what the picture shows: a bitmap button is a push button named by its text
// without the mnemonic, a banner or "?" is a link, a value text has a name saying what it
// counts and its text as value, and a text that only the dialog's picture carries is a
// label of its own.
#pragma once

#include <QLabel>
#include <QString>

// Makes Qt ask us for the description of the control kit's classes. Every control of the
// kit calls it as it is constructed; repeating it changes nothing.
void InstallControlAccessibility();

// The name a control's text gives it: "&Start" is "Start", "&&" one "&".
QString StripMnemonic(const QString& strText);

// A text drawn into a dialog's picture, given to assistive technology where the picture
// shows it: a label that paints nothing and takes neither mouse nor focus.
class CPictureText : public QLabel {
public:
    CPictureText(const QString& strText, const QRect& rc, QWidget* pParent);
    ~CPictureText() override;

protected:
    void paintEvent(QPaintEvent* pEvent) override;
};
