#include "ToolTip.h"

#include <QFontMetrics>
#include <QHelpEvent>
#include <QStringList>
#include <QToolTip>
#include <QWidget>

QString WrapToolTipText(const QString& strText, const QFont& font, int nMaxWidth) {
    if (nMaxWidth <= 0)
        return strText;
    const QFontMetrics fm(font);
    QStringList arrLines;
    for (const QString& strParagraph : strText.split(QLatin1Char('\n'))) {
        QString strLine;
        for (const QString& strWord : strParagraph.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            const QString strCandidate =
                strLine.isEmpty() ? strWord : strLine + QLatin1Char(' ') + strWord;
            if (strLine.isEmpty() || fm.horizontalAdvance(strCandidate) <= nMaxWidth) {
                strLine = strCandidate;
            } else {
                arrLines << strLine;
                strLine = strWord;
            }
        }
        arrLines << strLine;
    }
    return arrLines.join(QLatin1Char('\n'));
}

void ShowControlToolTip(QWidget* pControl, QHelpEvent* pEvent, const std::string& strText,
                        int nMaxWidth) {
    if (strText.empty()) {
        QToolTip::hideText();
        pEvent->ignore();
        return;
    }
    const QString strTip =
        WrapToolTipText(QString::fromStdString(strText), QToolTip::font(), nMaxWidth);
    QToolTip::showText(pEvent->globalPos(), strTip, pControl, pControl->rect());
}
