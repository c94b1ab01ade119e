// What assistive technology (a screen reader over AT-SPI) learns of the controls we paint
// ourselves. Qt describes its own widgets; ours draw pictures in place of text, so they
// say here what the picture shows: a bitmap button is a push button named by its text
// without the mnemonic, a banner or "?" is a link, a value text has a name saying what it
// counts and its text as value, and a text that only the dialog's picture carries is a
// label of its own.
#pragma once

#include <QString>

// Makes Qt ask us for the description of the control kit's classes. A program calls it
// once at start-up, before its first window; repeating it changes nothing.
void InstallControlAccessibility();

// The name a control's text gives it: "&Start" is "Start", "&&" one "&".
QString StripMnemonic(const QString& strText);
