#include "dialogs/frm_version.h"

#include "dialogs/ImageControl.h"
#include "dialogs/ProcessView.h"
#include "platform/PlatformUi.h"

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
    Image1->SetPicture({icon.pixmap(32, 32).toImage(), QSize(32, 32)});
    Label[0]->setText(kAppTitle);
    Label[1]->setText(
        VersionText(KADRELO_VERSION_MAJOR, KADRELO_VERSION_MINOR, KADRELO_VERSION_PATCH));
    Label2->setText(QStringLiteral(KADRELO_COPYRIGHT));
    Label3->setText(kMailAddress);
    Label4->setText(kWebAddress);
    ResetLabel3();
    ResetLabel4();
}

void frm_version::SetLinkLook(QLabel* link, bool hover) {
    QFont font = link->font();
    font.setUnderline(hover);
    link->setFont(font);
    QPalette palette = link->palette();
    palette.setColor(QPalette::WindowText, hover ? QColor(0, 0, 255) : QColor(0, 0, 0));
    link->setPalette(palette);
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
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        if (watched == Label3) Ui().OpenWithDesktop(QStringLiteral("mailto:") + kMailAddress);
        if (watched == Label4) Ui().OpenWithDesktop(kWebAddress);
    }
    return DialogBase::eventFilter(watched, event);
}

void AboutCommand(ProcessView& view) {
    frm_version about(view.Owner());
    about.exec();
}
