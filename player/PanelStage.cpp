#include "player/PanelStage.h"

#include "dialogs/ImageControl.h"
#include "model/PictureLayout.h"
#include "platform/ColorValue.h"

#include <QPainter>
#include <QWidget>

PanelStage::PanelStage(QWidget& window, double pixelRatio) : window_(window) {
    Img = new ImageControl(&window);
    Img->setObjectName(QStringLiteral("Img"));
    Img->SetPixelRatio(pixelRatio);
    Img->hide();
    for (int i = 0; i < 4; ++i) {
        PreIcon[i] = new ImageControl(&window);
        PreIcon[i]->setObjectName(QStringLiteral("PreIcon"));
        PreIcon[i]->SetPixelRatio(pixelRatio);
        PreIcon[i]->SetBorder(false);
        PreIcon[i]->hide();
    }
}

void PanelStage::SetBackground(const ProcessRecord& process) {
    QPalette palette = window_.palette();
    palette.setColor(QPalette::Window, ColorFromValue(uint32_t(process.BackColor)));
    window_.setPalette(palette);
}

void PanelStage::PaintBackground(QPainter& painter, const QRegion& region) const {
    for (const QRect& rect : region) painter.fillRect(rect, window_.palette().window());
}

QRegion PanelStage::ShowPanel(const ProcessRecord& process, int index, const Picture& picture,
                              const Picture& previous) {
    QRegion changed = Img->isVisible() ? QRegion(Img->geometry()) : QRegion();
    const std::optional<Run> run = RunOf(process.RunStyle);
    if (!run) return changed;  // an unknown run style draws nothing
    Img->SetPicture(picture);
    Img->SetSpokenName(PanelName(index), TrimFixed(process.PanelPath[index]));
    if (*run == Run::FullScreen)
        ShowPanelFull(process);
    else
        ShowPanelFitted(process, process.FitMode);
    changed += Img->geometry();
    if (*run == Run::Iconize && index > 0) {
        ShowPanelIcon(process, index, previous);
        changed += PreIcon[index]->geometry();
    }
    return changed;
}

QRegion PanelStage::HidePanel() {
    if (!Img->isVisible()) return {};
    Img->hide();
    return Img->geometry();
}

void PanelStage::ShowPanelFitted(const ProcessRecord& process, int16_t fitMode) {
    // An unknown fit mode keeps the stretching and size the picture had.
    const QSizeF client = window_.size();
    const std::optional<PictureLayout> layout = LayOutPicture(
        client, fitMode, QSizeF(process.FixedWidth, process.FixedHeight), Img->OwnSize());
    if (layout) {
        Img->SetStretch(layout->stretch);
        Img->SetLogicalGeometry(layout->rect);
    } else {
        Img->SetLogicalPos(PicturePlace(client, Img->LogicalGeometry().size()));
    }
    Img->SetAppearance(process.ImageAppearance);
    Img->show();
}

void PanelStage::ShowPanelFull(const ProcessRecord& process) {
    Img->SetStretch(true);
    Img->SetLogicalGeometry(QRectF(QPointF(0, 0), QSizeF(window_.size())));
    Img->SetAppearance(process.ImageAppearance);
    Img->show();
}

void PanelStage::ShowPanelIcon(const ProcessRecord& process, int index, const Picture& previous) {
    ImageControl* icon = PreIcon[index];
    icon->SetStretch(true);
    icon->SetLogicalGeometry(QRectF(60 * index - 51, 10, 50, 50));
    icon->SetSpokenName(PanelName(index - 1), TrimFixed(process.PanelPath[index - 1]));
    icon->SetPicture(previous.isNull()
                         ? Picture{}
                         : Picture{previous.image.scaled(icon->DeviceSize(), Qt::IgnoreAspectRatio,
                                                         Qt::SmoothTransformation),
                                   previous.naturalSize,
                                   {}});
    icon->show();
}

QSize PanelStage::DecodeSize(const ProcessRecord& process, QSize client, double ratio) {
    const auto inScreenPixels = [ratio](QSize s) { return (QSizeF(s) * ratio).toSize(); };
    if (RunOf(process.RunStyle) == Run::FullScreen) return inScreenPixels(client);
    const std::optional<PictureLayout> layout = LayOutPicture(
        QSizeF(client), process.FitMode, QSizeF(process.FixedWidth, process.FixedHeight), QSizeF());
    if (!layout || !layout->stretch) return QSize();
    const QRect whole = ToPixels(layout->rect);
    return QRect(QPoint(), client).contains(whole) ? inScreenPixels(whole.size()) : QSize();
}
