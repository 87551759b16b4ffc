#pragma once

#include <QIcon>
#include <QPixmap>

// The program's 32 x 32, 16-colour icon, shared by the main window, the
// process editor and the about box.
QPixmap AppIconPixmap();
QIcon AppIcon();
