#pragma once

// Icon resources as Qt sees them: the window icon and the pixmaps that painting draws.

#include "Afx.h"

#include <QIcon>
#include <QPixmap>

// The icon's image of `size` pixels (or its first image), made once per icon and size.
const QPixmap& IconImage(HICON icon, int size);
// A window icon of the large and the small icon's images.
QIcon ToQIcon(HICON big, HICON small);
