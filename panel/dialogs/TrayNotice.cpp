#include "panel/dialogs/TrayNotice.h"

#include "gui/Art.h"
#include "panel/widgets/WindowTools.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QPushButton>
#include <QTime>
#include <QVBoxLayout>

namespace panel {

namespace {

// The notification area as the notice shows it: a strip with the icon in it.
QPixmap TrayPicture()
{
    QPixmap picture(220, 36);
    picture.fill(QColor(52, 56, 64));
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QColor(200, 200, 210));
    p.drawText(QRect(130, 0, 84, 36), Qt::AlignVCenter | Qt::AlignRight, QLocale().toString(QTime::currentTime(), QLocale::ShortFormat));
    p.drawPixmap(100, 8, gui::art::FirewallIcon(20));
    p.setPen(QPen(QColor(255, 210, 0), 2));
    p.drawEllipse(QRect(95, 3, 30, 30));
    return picture;
}

}  // namespace

TrayNotice::TrayNotice(QWidget* parent) : QDialog(parent)
{
    setObjectName("SysTrayMessage");
    setWindowTitle(tr("  Closing Korvel Firewall"));
    auto* layout = new QVBoxLayout(this);
    QLabel* text = panel::PlainLabel("Label1",
                                     tr("You have chosen to close Korvel Firewall Application.\nThe application's icon "
                                        "will appear in the systray toolbar as shown in the picture below."),
                                     this);
    text->setWordWrap(true);
    auto* picture = panel::Named(new QLabel(this), "Picture1");
    picture->setPixmap(TrayPicture());
    picture->setAlignment(Qt::AlignCenter);
    dontShow_ = panel::Named(new QCheckBox(tr("Don't show this message again"), this), "CheckNotToShow");
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    QPushButton* ok = panel::Named(buttons->button(QDialogButtonBox::Ok), "OkCmd");
    ok->setDefault(true);
    layout->addWidget(text);
    layout->addWidget(picture);
    layout->addWidget(dontShow_);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    setFixedWidth(420);
    panel::FitDialog(this, QSize(420, 0));
}

bool TrayNotice::ShowAgain() const { return !dontShow_->isChecked(); }

}  // namespace panel
