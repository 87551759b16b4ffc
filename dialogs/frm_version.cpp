#include "dialogs/frm_version.h"

#include "dialogs/ImageControl.h"
#include "dialogs/ProcessView.h"
#include "platform/PlatformUi.h"

#include "platform/ColorValue.h"

#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>

const QString frm_version::kMailAddress = QStringLiteral("kadrelo@example.org");
const QString frm_version::kWebAddress = QStringLiteral("https://kadrelo.example.org/");

QString frm_version::VersionText(int major, int minor, int revision) {
    return QString::number(major) + u'.' + QString::number(minor) + QString::number(revision);
}

frm_version::frm_version(QWidget* owner) : DialogBase(owner, "frm_version", 4845, 2310) {
    setMouseTracking(true);
    Image1 = Place<ImageControl>(this, "Image1", Twips(120, 120, 1095, 1095));
    Image1->SetLogicalGeometry(Image1->geometry());
    Label[0] = Place<QLabel>(this, "Label", Twips(1320, 120, 2295, 255));
    Label[1] = Place<QLabel>(this, "Label", Twips(1320, 480, 2295, 255));
    Label2 = Place<QLabel>(this, "Label2", Twips(1320, 840, 2415, 255));
    Label3 = Place<QLabel>(this, "Label3", Twips(1320, 1080, 3375, 255));
    Label4 = Place<QLabel>(this, "Label4", Twips(1320, 1320, 3375, 255));
    Command1 = Button(this, "Command1", QStringLiteral("OK"), Twips(1800, 1800, 1215, 375));
    Command1->setDefault(true);
    for (QLabel* link : {Label3, Label4}) {
        link->setFocusPolicy(Qt::StrongFocus);
        link->setAccessibleDescription(QStringLiteral("リンク"));
    }
    setTabOrder(Command1, Label3);
    setTabOrder(Label3, Label4);
    Command1->setFocus();  // Enter closes, as the button's default role says
    connect(Command1, &QPushButton::clicked, this, &QDialog::accept);
    for (QWidget* w : {static_cast<QWidget*>(Image1), static_cast<QWidget*>(Label[0]),
                       static_cast<QWidget*>(Label[1]), static_cast<QWidget*>(Label2),
                       static_cast<QWidget*>(Label3), static_cast<QWidget*>(Label4),
                       static_cast<QWidget*>(Command1)}) {
        w->setMouseTracking(true);
        w->installEventFilter(this);
    }

    // Form_Load
    Ui().Beep();
    setWindowTitle(kAppTitle + QStringLiteral(" バージョン情報"));
    const QIcon icon = owner ? owner->windowIcon() : QIcon();
    setWindowIcon(icon);
    Image1->SetPicture({icon.pixmap(32, 32).toImage(), QSize(32, 32), {}});
    Image1->SetSpokenName(kAppTitle + QStringLiteral("のアイコン"));
    Label[0]->setText(kAppTitle);
    Label[1]->setText(
        VersionText(KADRELO_VERSION_MAJOR, KADRELO_VERSION_MINOR, KADRELO_VERSION_PATCH));
    Label2->setText(QStringLiteral(KADRELO_COPYRIGHT));
    Label3->setText(kMailAddress);
    Label4->setText(kWebAddress);
    ResetLabel3();
    ResetLabel4();
}

// Black at rest and blue when lit, where they read well on the window's
// colour; on a dark or high-contrast theme, where they do not, the theme's own
// text and link colours.
QColor frm_version::LinkColour(bool lit) const {
    const QPalette& theme = palette();
    const QColor window = theme.color(QPalette::Window);
    const QColor described = lit ? QColor(0, 0, 255) : QColor(0, 0, 0);
    if (ContrastRatio(described, window) >= kReadableContrast) return described;
    const QColor themed = theme.color(lit ? QPalette::Link : QPalette::WindowText);
    return ContrastRatio(themed, window) >= kReadableContrast ? themed
                                                              : theme.color(QPalette::WindowText);
}

void frm_version::SetLinkLook(QLabel* link, bool lit) {
    QFont font = link->font();
    font.setUnderline(lit);
    link->setFont(font);
    QPalette palette = link->palette();
    palette.setColor(QPalette::WindowText, LinkColour(lit));
    link->setPalette(palette);
}

void frm_version::OpenLink(const QObject* link) {
    if (link == Label3) Ui().OpenWithDesktop(QStringLiteral("mailto:") + kMailAddress);
    if (link == Label4) Ui().OpenWithDesktop(kWebAddress);
}

// The links take the keyboard too: Tab reaches them, they are lit while they
// have it, and Enter or Space opens them.
bool frm_version::LinkKeyEvent(QObject* watched, QEvent* event) {
    if (watched != Label3 && watched != Label4) return false;
    auto* link = static_cast<QLabel*>(watched);
    if (event->type() == QEvent::FocusIn) SetLinkLook(link, true);
    if (event->type() == QEvent::FocusOut) SetLinkLook(link, false);
    if (event->type() != QEvent::KeyPress) return false;
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key != Qt::Key_Return && key != Qt::Key_Enter && key != Qt::Key_Space) return false;
    OpenLink(link);
    return true;
}

void frm_version::mouseMoveEvent(QMouseEvent*) {
    ResetLabel3();
    ResetLabel4();
}

bool frm_version::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseMove) {
        if (watched == Label3) {
            ResetLabel4();
            SetLinkLook(Label3, true);
        } else if (watched == Label4) {
            ResetLabel3();
            SetLinkLook(Label4, true);
        } else if (watched == Label2) {
            ResetLabel3();
            ResetLabel4();
        }
        return watched != Command1;  // the button still needs its own moves
    }
    if (event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
        OpenLink(watched);
    if (LinkKeyEvent(watched, event)) return true;
    return DialogBase::eventFilter(watched, event);
}

void AboutCommand(ProcessView& view) {
    frm_version about(view.Owner());
    about.exec();
}
