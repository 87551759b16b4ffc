// The Windows font families that windows and metafiles ask for, mapped to the
// installed fonts that stand in for them (IPA fonts for Japanese, Liberation
// for the common Latin ones). Call once, on the main thread, before drawing text.
#pragma once

void InstallFontSubstitutions();
