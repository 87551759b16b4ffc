// Where the store file Process.dat lives.
#pragma once

#include <QString>

// Beside the executable where a Process.dat is there already, and for a
// portable copy or a build folder that the user can write to. For an installed
// program (a bin folder whose share folder holds the program's desktop entry),
// or a folder the user cannot write to, in $XDG_DATA_HOME/kadrelo (by default
// ~/.local/share/kadrelo), which the first save creates for this user alone.
QString StoreLocation(const QString& executableDirectory);
