#include "Bitmaps.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QString>

#include <cmath>

// The pictures are drawn at build time and compiled in as the "artwork" resource
// collection (bitmaps/<id>.png, bitmaps/<id>@<scale>x.png, icons/<id>/<size>.png).
static void InitArtwork() {
    Q_INIT_RESOURCE(artwork);
}

namespace {

void EnsureArtwork() {
    static const bool bDone = (InitArtwork(), true);
    (void)bDone;
}

QImage LoadImage(const QString& strPath) {
    QImage img;
    if (QFile::exists(strPath))
        img.load(strPath, "PNG");
    return img;
}

} // namespace

QPixmap LoadBitmap(UINT nId) {
    EnsureArtwork();
    QPixmap bmp;
    const QString strPath = QStringLiteral(":/bitmaps/%1.png").arg(nId);
    if (QFile::exists(strPath))
        bmp.load(strPath, "PNG");
    return bmp;
}

qreal ChooseBitmapScale(qreal rDevicePixelRatio) {
    // A ratio a hair above a drawn scale (1.5000001 from a rounded screen setting) is
    // that scale, not the next one up.
    constexpr qreal kSlack = 1e-3;
    if (rDevicePixelRatio <= 1.0 + kSlack)
        return 1.0;
    for (const double rScale : kBitmapScales)
        if (rDevicePixelRatio <= rScale + kSlack)
            return rScale;
    return std::end(kBitmapScales)[-1];
}

QPixmap LoadBitmap(UINT nId, qreal rDevicePixelRatio) {
    const QPixmap bmp1x = LoadBitmap(nId);
    const qreal rScale = ChooseBitmapScale(rDevicePixelRatio);
    if (bmp1x.isNull() || rScale == 1.0)
        return bmp1x;
    QImage img =
        LoadImage(QStringLiteral(":/bitmaps/%1@%2x.png").arg(nId).arg(QString::number(rScale)));
    if (img.isNull())
        return bmp1x; // a collection without that scale: better soft than nothing
    // Exactly the device pixels the 1x picture covers on that screen, so that it is
    // drawn one to one.
    const QSize sizeDevice(static_cast<int>(std::lround(bmp1x.width() * rDevicePixelRatio)),
                           static_cast<int>(std::lround(bmp1x.height() * rDevicePixelRatio)));
    if (img.size() != sizeDevice)
        img = img.scaled(sizeDevice, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    img.setDevicePixelRatio(rDevicePixelRatio);
    return QPixmap::fromImage(std::move(img));
}

QSize BitmapSize(const QPixmap& bmp) {
    return bmp.deviceIndependentSize().toSize();
}

QIcon LoadIcon(UINT nId) {
    EnsureArtwork();
    QIcon icon;
    const QDir dir(QStringLiteral(":/icons/%1").arg(nId));
    for (const QString& strName : dir.entryList({QStringLiteral("*.png")}, QDir::Files))
        icon.addFile(dir.filePath(strName));
    return icon;
}
