// Icon resources turned into Qt pixmaps and window icons, each made once.

#include "IconImage.h"

#include "Resources.h"

#include <map>

const QPixmap& IconImage(HICON icon, int size)
{
    static std::map<std::pair<HICON, int>, QPixmap> cache;
    auto& pixmap = cache[{ icon, size }];
    if (pixmap.isNull() && icon) {
        for (const char* const* xpm : icon->images) {
            QPixmap image(xpm);
            if (image.width() == size || pixmap.isNull())
                pixmap = image;
        }
    }
    return pixmap;
}

QIcon ToQIcon(HICON big, HICON small)
{
    QIcon icon;
    if (big)
        icon.addPixmap(IconImage(big, 32));
    if (small)
        icon.addPixmap(IconImage(small, 16));
    return icon;
}
