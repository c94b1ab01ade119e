#include "Messages.h"

#include <QCoreApplication>

#include <memory>

void PostWindowMessage(QObject* pTarget, UINT nMsg, WPARAM wParam, LPARAM lParam) {
    if (!pTarget)
        return;
    // postEvent takes the event over and deletes it once delivered or dropped.
    QCoreApplication::postEvent(pTarget,
                                std::make_unique<CMessageEvent>(nMsg, wParam, lParam).release());
}
