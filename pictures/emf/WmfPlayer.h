// Windows metafiles (WMF), placeable or not: their records, written from the
// public description of the format, are translated one by one into enhanced
// metafile records and played by the enhanced-metafile player, so that both
// kinds share one renderer.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <optional>

// A placeable metafile (its key), or a plain one (its header's type, size and version).
bool LooksLikeWmf(QByteArrayView data);

// The metafile as an enhanced metafile that draws the same, or nothing when
// its header is unusable or it gives no size (a plain metafile without a
// window extent). Records are bounds-checked; a damaged one ends the drawing.
std::optional<QByteArray> WmfToEmf(QByteArrayView data);
