#include "app/frm_main.h"

#include "app/AppIcon.h"
#include "app/SaveCommand.h"
#include "dialogs/ImageControl.h"
#include "dialogs/frm_appr.h"
#include "dialogs/frm_cr.h"
#include "dialogs/frm_open.h"
#include "dialogs/frm_opt.h"
#include "dialogs/frm_process.h"
#include "dialogs/frm_prono.h"
#include "dialogs/frm_version.h"
#include "export/frm_export.h"
#include "model/PictureLayout.h"
#include "platform/ColorValue.h"
#include "platform/Desktop.h"
#include "platform/PlatformUi.h"
#include "player/frm_prev.h"

#include <QApplication>
#include <QCursor>
#include <QMenuBar>
#include <QPaintEvent>
#include <QScreen>

namespace {

QString TooltipFor(int16_t fitMode) {
    const std::optional<Fit> fit = FitOf(fitMode);
    if (!fit) return {};
    switch (*fit) {
        case Fit::Window:
            return QStringLiteral("フォームに合わせます");
        case Fit::Fixed:
            return QStringLiteral("固定");
        case Fit::OwnSize:
            return QStringLiteral("元画像の大きさ");
    }
    return {};
}
}  // namespace

// The client area below the menu bar: every repaint updates the menus and
// every resize lays the picture out again.
class frm_main::Client : public QWidget {
  public:
    explicit Client(frm_main* owner) : QWidget(owner), owner_(owner) {
        setObjectName(QStringLiteral("client"));
        setAutoFillBackground(true);
    }

  protected:
    void paintEvent(QPaintEvent*) override { owner_->UpdateMenuState(); }
    void resizeEvent(QResizeEvent*) override { owner_->FitImage(); }

  private:
    frm_main* owner_;
};

frm_main::frm_main(const QString& storePath) : store_(storePath) {
    setObjectName(QStringLiteral("frm_main"));
    setWindowTitle(kAppTitle);
    setWindowIcon(AppIcon());

    client_ = new Client(this);
    QPalette palette = client_->palette();
    palette.setColor(QPalette::Window, Qt::black);
    client_->setPalette(palette);
    client_->setMinimumSize(1, 1);
    setCentralWidget(client_);

    img_ = new ImageControl(client_);
    img_->setObjectName(QStringLiteral("Img"));
    img_->SetLogicalGeometry(QRectF(40, 32, 448, 256));
    img_->SetAppearance(int(Look::ThreeD));
    img_->SetSpokenName(PanelName(0));
    connect(img_, &ImageControl::MouseReleased, this, &frm_main::Img_MouseUp);

    BuildMenus();
    // The designed size, grown with the font where the screen's font resolution
    // is raised, so that the menu bar shows every menu.
    const QScreen* screen = QGuiApplication::primaryScreen();
    const double grow = std::max(1.0, screen ? screen->logicalDotsPerInch() / 96.0 : 1.0);
    const QSize client(int(std::lround(kClientWidth * grow)),
                       int(std::lround(kClientHeight * grow)));
    client_->resize(client);
    resize(client.width(), client.height() + menuBar()->sizeHint().height());
    if (screen) move(CenteredFramePos(size(), screen->availableGeometry()));
    CenterOnShow(this, nullptr);  // again with the title bar, once the window is framed
}

frm_main::~frm_main() = default;

QAction* frm_main::AddItem(QMenu* menu, const char* name, const QString& caption,
                           const QKeySequence& shortcut) {
    QAction* action = menu->addAction(caption);
    action->setObjectName(QLatin1String(name));
    action->setShortcut(shortcut);
    return action;
}

void frm_main::BuildMenus() {
    auto addMenu = [this](QMenu* parent, const char* name, const QString& caption) {
        QMenu* menu = parent ? parent->addMenu(caption) : menuBar()->addMenu(caption);
        menu->setObjectName(QLatin1String(name));
        menu->menuAction()->setObjectName(QLatin1String(name));
        return menu;
    };
    auto separator = [](QMenu* menu, const char* name) {
        menu->addSeparator()->setObjectName(QLatin1String(name));
    };

    m_FILE = addMenu(nullptr, "m_FILE", QStringLiteral("ファイル(&F)"));
    connect(AddItem(m_FILE, "m_NEW", QStringLiteral("新しいプロセス(&N)"), Qt::CTRL | Qt::Key_N),
            &QAction::triggered, this, [this] { NewProcessCommand(*this); });
    connect(AddItem(m_FILE, "m_OPEN", QStringLiteral("他のプロセス(&O)"), Qt::CTRL | Qt::Key_O),
            &QAction::triggered, this, [this] { OpenCommand(*this); });
    separator(m_FILE, "l1");
    m_SAVE = AddItem(m_FILE, "m_SAVE", QStringLiteral("プロセスを保存(&S)"), Qt::CTRL | Qt::Key_S);
    connect(m_SAVE, &QAction::triggered, this, [this] { SaveCommand(*this); });
    m_EXPORT =
        AddItem(m_FILE, "m_EXPORT", QStringLiteral("エクスポート(&E)..."), Qt::CTRL | Qt::Key_E);
    connect(m_EXPORT, &QAction::triggered, this, [this] { ExportCommand(*this); });
    separator(m_FILE, "l2");
    connect(AddItem(m_FILE, "m_END", QStringLiteral("終了(&X)")), &QAction::triggered, this,
            &QWidget::close);

    m_EDIT = addMenu(nullptr, "m_EDIT", QStringLiteral("編集(&E)"));
    m_SET[0] = AddItem(m_EDIT, "m_SET", QStringLiteral("プロセスの編集(&S)"));
    m_SET[1] = m_EDIT->addSeparator();
    m_SET[1]->setObjectName(QStringLiteral("m_SET"));
    m_SET[2] = AddItem(m_EDIT, "m_SET", QStringLiteral("プロセスの順位(&Z)"));
    for (int i : {0, 2})
        connect(m_SET[i], &QAction::triggered, this, [this, i] { m_SET_Click(i); });

    m_VIEW = addMenu(nullptr, "m_VIEW", QStringLiteral("表示(&V)"));
    connect(m_VIEW, &QMenu::aboutToShow, this, &frm_main::m_VIEW_Open);
    connect(AddItem(m_VIEW, "m_BACK", QStringLiteral("背景色変更(&B)")), &QAction::triggered, this,
            [this] { BackColorCommand(*this); });
    m_STYLE = addMenu(m_VIEW, "m_STYLE", QStringLiteral("イメージのスタイル"));
    const QString styles[] = {QStringLiteral("なし"), QStringLiteral("3D")};
    for (int i = 0; i < 2; ++i) {
        m_APPR[i] = AddItem(m_STYLE, "m_APPR", styles[i]);
        m_APPR[i]->setCheckable(true);
        connect(m_APPR[i], &QAction::triggered, this, [this, i] { m_APPR_Click(i); });
    }
    m_APPR[1]->setChecked(true);
    separator(m_VIEW, "l5");
    connect(AddItem(m_VIEW, "m_IMGSET", QStringLiteral("イメージの調整(&E)")), &QAction::triggered,
            this, [this] { ImageAdjustCommand(*this); });

    m_RUN = addMenu(nullptr, "m_RUN", QStringLiteral("実行(&R)"));
    connect(AddItem(m_RUN, "m_PREVIEW", QStringLiteral("プレビュー(&P)"), Qt::Key_F5),
            &QAction::triggered, this, &frm_main::m_PREVIEW_Click);

    m_TOOL = addMenu(nullptr, "m_TOOL", QStringLiteral("ツール(&T)"));
    connect(AddItem(m_TOOL, "m_OPTION", QStringLiteral("オプション(&O)")), &QAction::triggered,
            this, [this] { OptionsCommand(*this); });

    m_HELP = addMenu(nullptr, "m_HELP", QStringLiteral("ヘルプ(&H)"));
    connect(AddItem(m_HELP, "m_VER", QStringLiteral("バージョン情報(&A)...")), &QAction::triggered,
            this, [this] { AboutCommand(*this); });
}

void frm_main::ApplyProcess(const ProcessRecord& record) {
    setWindowTitle(kAppTitle + QStringLiteral(" - ") + TrimFixed(record.Name));
    QPalette palette = client_->palette();
    palette.setColor(QPalette::Window, ColorFromValue(uint32_t(record.BackColor)));
    client_->setPalette(palette);
    client_->repaint();
    UpdateMenuState();  // also when hidden, where no repaint happens
    // A large picture arrives later; the window is laid out again then.
    const std::optional<PictureLayout> layout =
        LayOutPicture(QSizeF(client_->size()), record.FitMode,
                      QSizeF(record.FixedWidth, record.FixedHeight), img_->OwnSize());
    img_->LoadShown(TrimFixed(record.PanelPath[0]), layout ? layout->stretch : img_->Stretch(),
                    [this](const ::Picture&) { FitImage(); });
    img_->SetSpokenName(PanelName(0), TrimFixed(record.PanelPath[0]));
    img_->SetAppearance(record.ImageAppearance);
    img_->setToolTip(TooltipFor(record.FitMode));
}

void frm_main::FitImage() {
    const ProcessRecord& process = CurrentProcess();
    const std::optional<PictureLayout> layout =
        LayOutPicture(QSizeF(client_->size()), process.FitMode,
                      QSizeF(process.FixedWidth, process.FixedHeight), img_->OwnSize());
    if (!layout) return;  // an unknown fit mode changes nothing, not even the place
    img_->SetStretch(layout->stretch);
    // Single precision, as the main window's layout has always been computed.
    const QPointF at = layout->rect.topLeft();
    img_->SetLogicalGeometry(QRectF(QPointF(float(at.x()), float(at.y())), layout->rect.size()));
}

void frm_main::UpdateMenuState() {
    const bool named = !TrimFixed(CurrentProcess().Name).isEmpty();
    m_SAVE->setEnabled(named);
    m_EXPORT->setEnabled(named);  // as Preview: there is something to show
    for (QMenu* menu : {m_EDIT, m_VIEW, m_RUN, m_TOOL}) menu->menuAction()->setEnabled(named);
}

void frm_main::SetAppearanceChecks(int appearance) {
    m_APPR[0]->setChecked(appearance == int(Look::Flat));
    m_APPR[1]->setChecked(appearance == int(Look::ThreeD));
}

void frm_main::m_VIEW_Open() {
    const int appearance = CurrentProcess().ImageAppearance;
    if (appearance == int(Look::Flat) || appearance == int(Look::ThreeD))
        SetAppearanceChecks(appearance);
}

void frm_main::m_APPR_Click(int index) {
    img_->SetAppearance(index);
    CurrentProcess().ImageAppearance = int16_t(index);
    SetAppearanceChecks(index);
}

void frm_main::m_SET_Click(int index) {
    if (index == 0) EditProcessCommand(*this);
    if (index == 2) OrderCommand(*this);
}

void frm_main::m_PREVIEW_Click() {
    // F5 reaches the item even while its menu is disabled; a disabled Run menu
    // means there is nothing to play.
    if (!m_RUN->menuAction()->isEnabled()) return;
    PreviewCommand(*this);
}

void frm_main::Img_MouseUp(Qt::MouseButton button) {
    if (button != Qt::RightButton || !m_VIEW->menuAction()->isEnabled()) return;
    m_VIEW->exec(QCursor::pos());
}

QWidget* frm_main::ClientArea() const {
    return client_;
}
