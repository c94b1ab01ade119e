#include "Bitmaps.h"

#include <QDir>
#include <QFile>
#include <QString>

// The pictures are drawn at build time and compiled in as the "artwork" resource
// collection (bitmaps/<id>.png, icons/<id>/<size>.png).
static void InitArtwork() {
    Q_INIT_RESOURCE(artwork);
}

namespace {

void EnsureArtwork() {
    static const bool bDone = (InitArtwork(), true);
    (void)bDone;
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

QIcon LoadIcon(UINT nId) {
    EnsureArtwork();
    QIcon icon;
    const QDir dir(QStringLiteral(":/icons/%1").arg(nId));
    for (const QString& strName : dir.entryList({QStringLiteral("*.png")}, QDir::Files))
        icon.addFile(dir.filePath(strName));
    return icon;
}
