// The program's pictures, by resource id (see Resource.h).
#pragma once

#include "Resource.h"

#include <QIcon>
#include <QPixmap>

// The picture with that id at its own size; a null pixmap for an id without one.
QPixmap LoadBitmap(UINT nId);

// The icon with that id in every size drawn for it; a null icon for an unknown id.
QIcon LoadIcon(UINT nId);
