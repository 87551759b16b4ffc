#include "app/AppIcon.h"

#include "resources/kadrelo_icon.xpm"

QPixmap AppIconPixmap() {
    return QPixmap(kadrelo_icon_xpm);
}

QIcon AppIcon() {
    return QIcon(AppIconPixmap());
}
