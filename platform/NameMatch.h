// How two process names are compared: letter case is ignored (full-width letters
// too); width and kana type are not folded, so "ｶﾅ", "カナ" and "かな" stay distinct.
#pragma once

#include <QStringView>

bool NamesMatch(QStringView a, QStringView b);
