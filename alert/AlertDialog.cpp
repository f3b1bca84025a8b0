#include "AlertDialog.h"

#include "gui/Art.h"
#include "gui/ProgramIcon.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>

namespace {

// The layout is kept in dialog units, as the window was designed, and turned
// into pixels with the base units of an 8-point dialog font.
QRect Units(int x, int y, int width, int height)
{
    const auto px = [](int dlu) { return dlu * 3 / 2; };
    const auto py = [](int dlu) { return dlu * 13 / 8; };
    return QRect(px(x), py(y), px(width), py(height));
}

constexpr int kIconPixels = 32;

QLabel* IconLabel(QWidget* parent, const char* name, const QRect& cell, const QPixmap& pixmap)
{
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setGeometry(QRect(cell.topLeft(), QSize(kIconPixels, kIconPixels)));
    label->setPixmap(pixmap);
    return label;
}

}  // namespace

AlertDialog::AlertDialog(const AlertContent& content, QWidget* parent)
    : QDialog(parent), outgoing_(content.outgoing)
{
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setWindowTitle(content.caption);
    // A named peer adds a line: the choice to apply the answer to it alone.
    const bool offerHost = outgoing_ && !content.host.isEmpty();
    const int below = offerHost ? 12 : 0;
    setFixedSize(Units(0, 0, 270, 162 + below).size());
    QFont dialogFont = font();
    dialogFont.setPointSize(8);
    setFont(dialogFont);

    auto* banner = new QLabel(this);
    banner->setObjectName("banner107");
    banner->setGeometry(0, 0, width(), 20);
    banner->setPixmap(art::Banner(width(), 20));

    IconLabel(this, "1005", Units(7, 32, 21, 20), gui::ProgramPixmap(content.icon, kIconPixels));

    // Every text is shown as it stands: a description or a peer's name must
    // never be read as markup that could hide the port or fake a look.
    auto* message = new QLabel(this);
    message->setTextFormat(Qt::PlainText);
    message->setText(content.message);
    message->setObjectName("1004");
    message->setGeometry(Units(38, 24, 205, 43));
    message->setWordWrap(true);
    message->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    IconLabel(this, "1003", Units(38, 74, 21, 20), art::ComputerIcon(kIconPixels));
    auto* myComputer = new QLabel(this);
    myComputer->setTextFormat(Qt::PlainText);
    myComputer->setText("My Computer");
    myComputer->setObjectName("myComputerLabel");
    // Wider than designed around the same centre: today's fonts run wider.
    myComputer->setGeometry(Units(26, 96, 44, 10).adjusted(-12, 0, 12, 0));
    myComputer->setAlignment(Qt::AlignCenter);

    const QPixmap arrow = art::ArrowIcon(kIconPixels, outgoing_);
    arrows_[0] = IconLabel(this, "1007", Units(79, 78, 21, 20), arrow);
    arrows_[1] = IconLabel(this, "1001", Units(115, 78, 21, 20), arrow);
    arrows_[2] = IconLabel(this, "1006", Units(151, 78, 21, 20), arrow);
    arrows_[1]->hide();
    arrows_[2]->hide();

    IconLabel(this, "1002", Units(192, 73, 21, 20), art::RemoteIcon(kIconPixels));
    auto* peer = new QLabel(this);
    peer->setTextFormat(Qt::PlainText);
    peer->setText(content.peer);
    peer->setObjectName("1008");
    peer->setGeometry(Units(149, 97, 102, 26));
    peer->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    peer->setWordWrap(true);

    // "&" would make the next letter a keyboard shortcut and vanish.
    applyToAll_ = new QCheckBox(QString(content.checkBox).replace('&', "&&"), this);
    applyToAll_->setObjectName("1009");
    applyToAll_->setGeometry(Units(37, 125, 226, 10).adjusted(0, -2, 0, 2));
    applyToAll_->setChecked(false);
    if (offerHost) {
        const QRect cell = Units(47, 136, 216, 10).adjusted(0, -2, 0, 2);
        const QString label = "Only for connections to " + content.host;
        hostOnly_ = new QCheckBox(this);
        hostOnly_->setObjectName("1010");
        hostOnly_->setGeometry(cell);
        // A long name is cut in its middle: both ends tell names apart.
        hostOnly_->setText(hostOnly_->fontMetrics().elidedText(label, Qt::ElideMiddle, cell.width() - 24).replace('&', "&&"));
        hostOnly_->setToolTip(label);
        hostOnly_->setEnabled(false);
        connect(applyToAll_, &QCheckBox::toggled, hostOnly_, &QCheckBox::setEnabled);
    }

    auto* allow = new QPushButton("Allow", this);
    allow->setObjectName("1");
    allow->setGeometry(Units(72, 141 + below, 50, 14));
    allow->setDefault(true);
    allow->setAutoDefault(true);
    auto* block = new QPushButton("Block", this);
    block->setObjectName("2");
    block->setGeometry(Units(130, 141 + below, 50, 14));
    block->setAutoDefault(false);
    connect(allow, &QPushButton::clicked, this, [this] { Press(kAllow); });
    connect(block, &QPushButton::clicked, this, [this] { Press(kBlock); });
    allow->setFocus();

    // Nobody at the screen: Block after the time chosen in the options. The
    // user touching the box is there, and the count stops.
    if (content.timeoutSeconds > 0) {
        secondsLeft_ = content.timeoutSeconds;
        timeLeft_ = new QLabel(this);
        timeLeft_->setObjectName("timeLeft");
        timeLeft_->setTextFormat(Qt::PlainText);
        timeLeft_->setGeometry(Units(4, 143 + below, 66, 10));
        timeLeft_->setText(QString("Block in %1 s").arg(secondsLeft_));
        countdownTimer_.setInterval(1000);
        connect(&countdownTimer_, &QTimer::timeout, this, &AlertDialog::CountDown);
        const auto present = [this] {
            userPresent_ = true;
            countdownTimer_.stop();
            timeLeft_->hide();
        };
        connect(applyToAll_, &QCheckBox::clicked, this, present);
        if (hostOnly_)
            connect(hostOnly_, &QCheckBox::clicked, this, present);
    }

    slideTimer_.setInterval(kSlideIntervalMs);
    arrowTimer_.setInterval(kArrowIntervalMs);
    connect(&slideTimer_, &QTimer::timeout, this, &AlertDialog::SlideStep);
    connect(&arrowTimer_, &QTimer::timeout, this, &AlertDialog::AdvanceArrow);
}

QRect AlertDialog::ScreenArea() const
{
    // The whole desktop, task bar included.
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->geometry() : QRect(0, 0, 1024, 768);
}

void AlertDialog::Start()
{
    const QRect area = ScreenArea();
    move(area.right() + 1 - width(), area.bottom() + 1);
    step_ = 3;
    slideTimer_.start();
    if (secondsLeft_ > 0)
        countdownTimer_.start();
    show();
    raise();
    activateWindow();
}

void AlertDialog::SlideStep()
{
    const QRect area = ScreenArea();
    if (y() + height() > area.bottom() + 1) {
        move(area.right() + 1 - width(), y() - kSlideStepPixels);
        return;
    }
    slideTimer_.stop();
    arrowTimer_.start();
}

void AlertDialog::AdvanceArrow()
{
    // Outgoing: 1007 -> 1001 -> 1006, steps 3, 2, 1. Incoming: 1007 -> 1006 -> 1001, steps 3, 1, 2.
    int show;
    if (outgoing_) {
        show = step_ == 3 ? 1 : step_ == 2 ? 2 : 0;
        step_ = step_ == 3 ? 2 : step_ == 2 ? 1 : 3;
    } else {
        show = step_ == 3 ? 2 : step_ == 1 ? 1 : 0;
        step_ = step_ == 3 ? 1 : step_ == 1 ? 2 : 3;
    }
    for (int i = 0; i < 3; ++i)
        arrows_[i]->setVisible(i == show);
}

QString AlertDialog::VisibleArrow() const
{
    for (QLabel* arrow : arrows_)
        if (!arrow->isHidden())
            return arrow->objectName();
    return {};
}

void AlertDialog::CountDown()
{
    if (answered_ || secondsLeft_ <= 0 || userPresent_)
        return;
    if (--secondsLeft_ > 0) {
        timeLeft_->setText(QString("Block in %1 s").arg(secondsLeft_));
        return;
    }
    timedOut_ = true;
    applyToAll_->setChecked(false); // a time-out is never applied to all
    Press(kBlock);
}

bool AlertDialog::HostOnly() const { return hostOnly_ && hostOnly_->isEnabled() && hostOnly_->isChecked(); }

void AlertDialog::Press(int button)
{
    if (answered_ || (button != kAllow && button != kBlock))
        return;
    answered_ = true;
    slideTimer_.stop();
    arrowTimer_.stop();
    countdownTimer_.stop();
    emit Answered(button, applyToAll_->isChecked());
    done(button);
}

void AlertDialog::reject() { Press(kBlock); }

void AlertDialog::closeEvent(QCloseEvent* event)
{
    // Closed by the window manager: nobody allowed anything.
    Press(kBlock);
    event->accept();
}

void AlertDialog::paintEvent(QPaintEvent* event)
{
    QDialog::paintEvent(event);
    QPainter painter(this);
    painter.setPen(QColor(90, 90, 100));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void AlertDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!reportedShown_) {
        reportedShown_ = true;
        emit Shown();
    }
}
