#include "Gdi.h"

#include <QFontMetricsF>

#include <algorithm>
#include <cmath>

QFont CreateDialogFont(int nHeight, int nWeight, bool bUnderline, const std::string& strFaceName) {
    QFont font;
    QStringList arrFamilies;
    if (!strFaceName.empty())
        arrFamilies << QString::fromStdString(strFaceName);
    arrFamilies << QStringLiteral("DejaVu Sans") << QStringLiteral("sans-serif");
    font.setFamilies(arrFamilies);
    font.setStyleHint(QFont::SansSerif);
    font.setWeight(static_cast<QFont::Weight>(std::clamp(nWeight, 1, 1000)));
    font.setUnderline(bUnderline);

    int nPixels = std::abs(nHeight);
    if (nHeight > 0) {
        // A cell height: find the em that gives it with the face that was resolved.
        QFont probe = font;
        probe.setPixelSize(100);
        const qreal rCell = QFontMetricsF(probe).height();
        if (rCell > 0)
            nPixels = static_cast<int>(std::lround(nHeight * 100.0 / rCell));
    }
    font.setPixelSize(std::max(nPixels, 1));
    return font;
}
