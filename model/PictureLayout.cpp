#include "model/PictureLayout.h"

std::optional<PictureLayout> LayOutPicture(QSizeF client, int16_t fitMode, QSizeF fixed,
                                           QSizeF ownSize) {
    const std::optional<Fit> fit = FitOf(fitMode);
    if (!fit) return std::nullopt;
    QSizeF size;
    switch (*fit) {
        case Fit::Window:
            size = client / 1.5;
            break;
        case Fit::Fixed:
            size = fixed;
            break;
        case Fit::OwnSize:
            size = ownSize;
            break;
    }
    return PictureLayout{QRectF(PicturePlace(client, size), size), *fit != Fit::OwnSize};
}

QPointF PicturePlace(QSizeF client, QSizeF size) {
    return QPointF((client.width() - size.width()) / 2.2, (client.height() - size.height()) / 3);
}
