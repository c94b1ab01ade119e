// The program's pictures, by resource id (see Resource.h).
#pragma once

#include "Resource.h"

#include <QIcon>
#include <QPixmap>
#include <QSize>

// The picture with that id at its own size; a null pixmap for an id without one.
QPixmap LoadBitmap(UINT nId);

// The picture with that id for a screen of that device pixel ratio: drawn at that scale
// when it was, else the nearest larger drawing scaled down smoothly, beyond the largest
// that one scaled up; never the 1x picture scaled up. Its device pixel ratio is set so
// that it takes the 1x picture's place (BitmapSize). Null for an id without a picture.
QPixmap LoadBitmap(UINT nId, qreal rDevicePixelRatio);

// The scale of the drawing a picture for that device pixel ratio is made from.
qreal ChooseBitmapScale(qreal rDevicePixelRatio);

// The size a picture takes in a window, in device-independent pixels: the 1x size.
QSize BitmapSize(const QPixmap& bmp);

// The icon with that id in every size drawn for it; a null icon for an unknown id.
QIcon LoadIcon(UINT nId);
