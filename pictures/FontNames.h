// The Windows font families that windows and metafiles ask for, mapped to the
// installed fonts that stand in for them (IPA fonts for Japanese, Liberation
// for the common Latin ones). Call once, on the main thread, before drawing text.
#pragma once

#include <QString>

void InstallFontSubstitutions();

// The installed family that draws a metafile's face: the face itself, or the
// first installed family it is substituted by; the face again when none is
// installed (the font system then falls back). Looked up once per process.
QString InstalledFamily(const QString& face);
