#include "app/MainWindow.h"

#include "app/AppIcon.h"
#include "app/SaveCommand.h"
#include "dialogs/AboutDialog.h"
#include "dialogs/ColorDialog.h"
#include "dialogs/FitDialog.h"
#include "dialogs/OptionsDialog.h"
#include "dialogs/OrderDialog.h"
#include "dialogs/ProcessEditor.h"
#include "dialogs/ProcessList.h"
#include "platform/Desktop.h"
#include "platform/ImageControl.h"
#include "platform/PlatformUi.h"
#include "player/Player.h"

#include <QApplication>
#include <QCursor>
#include <QMenuBar>
#include <QPaintEvent>
#include <QScreen>

namespace {
MainWindow* g_instance = nullptr;

QColor FromColorValue(int32_t value) {
    const uint32_t v = uint32_t(value);
    return QColor(int(v & 0xFF), int((v >> 8) & 0xFF), int((v >> 16) & 0xFF));
}

QString TooltipFor(int fitMode) {
    switch (fitMode) {
        case 0:
            return QStringLiteral("フォームに合わせます");
        case 1:
            return QStringLiteral("固定");
        case 2:
            return QStringLiteral("元画像の大きさ");
        default:
            return {};
    }
}
}  // namespace

// The client area below the menu bar: every repaint updates the menus and
// every resize lays the picture out again.
class MainWindow::Client : public QWidget {
  public:
    explicit Client(MainWindow* owner) : QWidget(owner), owner_(owner) {
        setObjectName(QStringLiteral("client"));
        setAutoFillBackground(true);
    }

  protected:
    void paintEvent(QPaintEvent*) override { owner_->UpdateMenuState(); }
    void resizeEvent(QResizeEvent*) override { owner_->FitImage(); }

  private:
    MainWindow* owner_;
};

MainWindow::MainWindow(const QString& storePath) : store_(storePath) {
    g_instance = this;
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
    img_->SetAppearance(ImageControl::ThreeD);
    connect(img_, &ImageControl::MouseReleased, this, &MainWindow::Img_MouseUp);

    BuildMenus();
    client_->resize(kClientWidth, kClientHeight);
    resize(kClientWidth, kClientHeight + menuBar()->sizeHint().height());
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(CenteredFramePos(size(), screen->availableGeometry()));
    CenterOnShow(this, nullptr);  // again with the title bar, once the window is framed
}

MainWindow::~MainWindow() {
    if (g_instance == this) g_instance = nullptr;
}

MainWindow* MainWindow::Instance() {
    return g_instance;
}

QAction* MainWindow::AddItem(QMenu* menu, const char* name, const QString& caption,
                             const QKeySequence& shortcut) {
    QAction* action = menu->addAction(caption);
    action->setObjectName(QLatin1String(name));
    action->setShortcut(shortcut);
    return action;
}

void MainWindow::BuildMenus() {
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
    connect(m_VIEW, &QMenu::aboutToShow, this, &MainWindow::m_VIEW_Open);
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
            &QAction::triggered, this, &MainWindow::m_PREVIEW_Click);

    m_TOOL = addMenu(nullptr, "m_TOOL", QStringLiteral("ツール(&T)"));
    connect(AddItem(m_TOOL, "m_OPTION", QStringLiteral("オプション(&O)")), &QAction::triggered,
            this, [this] { OptionsCommand(*this); });

    m_HELP = addMenu(nullptr, "m_HELP", QStringLiteral("ヘルプ(&H)"));
    connect(AddItem(m_HELP, "m_VER", QStringLiteral("バージョン情報(&A)...")), &QAction::triggered,
            this, [this] { AboutCommand(*this); });
}

void MainWindow::ApplyProcess(const ProcessRecord& record) {
    setWindowTitle(kAppTitle + QStringLiteral(" - ") + TrimFixed(record.Name));
    QPalette palette = client_->palette();
    palette.setColor(QPalette::Window, FromColorValue(record.BackColor));
    client_->setPalette(palette);
    client_->repaint();
    UpdateMenuState();  // also when hidden, where no repaint happens
    img_->SetPicture(LoadPicture(TrimFixed(record.PanelPath[0])));
    img_->SetAppearance(record.ImageAppearance);
    img_->setToolTip(TooltipFor(record.FitMode));
}

void MainWindow::FitImage() {
    const ProcessRecord& process = CurrentProcess();
    const double clientWidth = client_->width(), clientHeight = client_->height();
    switch (process.FitMode) {
        case 0:
            img_->SetStretch(true);
            img_->SetLogicalSize(QSizeF(clientWidth / 1.5, clientHeight / 1.5));
            break;
        case 1:
            img_->SetStretch(true);
            img_->SetLogicalSize(QSizeF(process.FixedWidth, process.FixedHeight));
            break;
        case 2:
            img_->SetStretch(false);
            break;
        default:
            return;
    }
    const QSizeF size = img_->LogicalGeometry().size();
    // Single precision, as the layout has always been computed.
    img_->SetLogicalPos(QPointF(float((clientWidth - size.width()) / 2.2),
                                float((clientHeight - size.height()) / 3)));
}

void MainWindow::UpdateMenuState() {
    const bool named = !TrimFixed(CurrentProcess().Name).isEmpty();
    m_SAVE->setEnabled(named);
    for (QMenu* menu : {m_EDIT, m_VIEW, m_RUN, m_TOOL}) menu->menuAction()->setEnabled(named);
}

void MainWindow::SetAppearanceChecks(int appearance) {
    m_APPR[0]->setChecked(appearance == 0);
    m_APPR[1]->setChecked(appearance == 1);
}

void MainWindow::m_VIEW_Open() {
    const int appearance = CurrentProcess().ImageAppearance;
    if (appearance == 0 || appearance == 1) SetAppearanceChecks(appearance);
}

void MainWindow::m_APPR_Click(int index) {
    img_->SetAppearance(index);
    CurrentProcess().ImageAppearance = int16_t(index);
    SetAppearanceChecks(index);
}

void MainWindow::m_SET_Click(int index) {
    if (index == 0) EditProcessCommand(*this);
    if (index == 2) OrderCommand(*this);
}

void MainWindow::m_PREVIEW_Click() {
    // F5 reaches the item even while its menu is disabled; a disabled Run menu
    // means there is nothing to play.
    if (!m_RUN->menuAction()->isEnabled()) return;
    PreviewCommand(*this);
}

void MainWindow::Img_MouseUp(Qt::MouseButton button) {
    if (button != Qt::RightButton || !m_VIEW->menuAction()->isEnabled()) return;
    m_VIEW->exec(QCursor::pos());
}

void ApplyProcess(const ProcessRecord& record) {
    if (MainWindow* window = MainWindow::Instance()) window->ApplyProcess(record);
}

QWidget* MainWindow::ClientArea() const {
    return client_;
}
