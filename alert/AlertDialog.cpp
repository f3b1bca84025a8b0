#include "alert/AlertDialog.h"

#include "gui/Art.h"
#include "gui/Clock.h"
#include "gui/ProgramIcon.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QToolButton>

namespace alert {

namespace {

// The layout is kept in dialog units, as the window was designed, and turned
// into pixels with the base units of an 8-point dialog font.
int Px(int dlu) { return dlu * 3 / 2; }
int Py(int dlu) { return dlu * 13 / 8; }
QRect Units(int x, int y, int width, int height) { return QRect(Px(x), Py(y), Px(width), Py(height)); }

constexpr int kIconPixels = 32;
constexpr int kWidthUnits = 270;
// The details' own height when the screen has room for it.
constexpr int kDetailsUnits = 76;
constexpr int kDetailsMinimumUnits = 20;

QLabel* IconLabel(QWidget* parent, const char* name, const QRect& cell)
{
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setGeometry(QRect(cell.topLeft(), QSize(kIconPixels, kIconPixels)));
    return label;
}

// Every text is shown as it stands: a description, a path or a peer's name
// must never be read as markup that could hide the port or fake a look.
QLabel* TextLabel(QWidget* parent, const char* name)
{
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QRect PointerScreenArea()
{
    const QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
}

}  // namespace

AlertDialog::AlertDialog(const AlertContent& content, QWidget* parent) : QDialog(parent)
{
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    // Shown without taking the keyboard from the window the user types in:
    // the window manager is told not to focus it (a user time of 0).
    setAttribute(Qt::WA_ShowWithoutActivating);
    QFont dialogFont = font();
    dialogFont.setPointSize(8);
    setFont(dialogFont);
    area_ = PointerScreenArea();

    banner_ = new QLabel(this);
    banner_->setObjectName("banner107");
    banner_->setGeometry(0, 0, Px(kWidthUnits), 20);
    banner_->setPixmap(gui::art::Banner(Px(kWidthUnits), 20));

    programIcon_ = IconLabel(this, "1005", Units(7, 32, 21, 20));
    message_ = TextLabel(this, "1004");
    message_->setGeometry(Units(38, 24, 205, 43));
    message_->setWordWrap(true);
    message_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    path_ = TextLabel(this, "path");
    path_->setGeometry(Units(38, 68, 205, 10));

    computer_ = IconLabel(this, "1003", Units(38, 84, 21, 20));
    computer_->setPixmap(gui::art::ComputerIcon(kIconPixels));
    myComputer_ = TextLabel(this, "myComputerLabel");
    myComputer_->setText(tr("My Computer"));
    // Wider than designed around the same centre: today's fonts run wider.
    myComputer_->setGeometry(Units(26, 106, 44, 10).adjusted(-12, 0, 12, 0));
    myComputer_->setAlignment(Qt::AlignCenter);
    arrows_[0] = IconLabel(this, "1007", Units(79, 88, 21, 20));
    arrows_[1] = IconLabel(this, "1001", Units(115, 88, 21, 20));
    arrows_[2] = IconLabel(this, "1006", Units(151, 88, 21, 20));
    remote_ = IconLabel(this, "1002", Units(192, 83, 21, 20));
    remote_->setPixmap(gui::art::RemoteIcon(kIconPixels));
    peer_ = TextLabel(this, "1008");
    peer_->setGeometry(Units(149, 107, 102, 26));
    peer_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    peer_->setWordWrap(true);

    lengthLabel_ = TextLabel(this, "lengthLabel");
    lengthLabel_->setTextFormat(Qt::AutoText);
    lengthLabel_->setText(tr("How &long:"));
    length_ = new QComboBox(this);
    length_->setObjectName("1011");
    lengthLabel_->setBuddy(length_);
    scopeLabel_ = TextLabel(this, "scopeLabel");
    scopeLabel_->setTextFormat(Qt::AutoText);
    scopeLabel_->setText(tr("Applies &to:"));
    scope_ = new QComboBox(this);
    scope_->setObjectName("1012");
    scopeLabel_->setBuddy(scope_);
    // The scope means nothing for this connection alone.
    connect(length_, &QComboBox::currentIndexChanged, this, [this] {
        const bool lasting = ChosenLength() != kOnce;
        scope_->setEnabled(lasting);
        scopeLabel_->setEnabled(lasting);
    });
    alsoWaiting_ = new QCheckBox(this);
    alsoWaiting_->setObjectName("alsoWaiting");
    alsoWaiting_->hide();

    detailsToggle_ = new QToolButton(this);
    detailsToggle_->setObjectName("detailsToggle");
    detailsToggle_->setText(tr("&Details"));
    detailsToggle_->setCheckable(true);
    detailsToggle_->setAutoRaise(true);
    detailsToggle_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    detailsToggle_->setArrowType(Qt::RightArrow);
    details_ = new QPlainTextEdit(this);
    details_->setObjectName("details");
    details_->setReadOnly(true);
    details_->setUndoRedoEnabled(false);
    // A command line is one long word more often than not.
    details_->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    details_->setFocusPolicy(Qt::ClickFocus);
    details_->hide();
    connect(detailsToggle_, &QToolButton::toggled, this, [this](bool open) {
        detailsToggle_->setArrowType(open ? Qt::DownArrow : Qt::RightArrow);
        details_->setVisible(open);
        Relayout();
        Place();
    });

    timeLeft_ = TextLabel(this, "timeLeft");
    timeLeft_->hide();
    moreWaiting_ = TextLabel(this, "moreWaiting");
    moreWaiting_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    moreWaiting_->hide();

    // No default button: Return never answers, whichever window it was meant for.
    allow_ = new QPushButton(tr("&Allow"), this);
    allow_->setObjectName("1");
    block_ = new QPushButton(tr("&Block"), this);
    block_->setObjectName("2");
    for (QPushButton* button : {allow_, block_}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    connect(allow_, &QPushButton::clicked, this, [this] { Press(kAllow); });
    connect(block_, &QPushButton::clicked, this, [this] { Press(kBlock); });
    setTabOrder(length_, scope_);
    setTabOrder(scope_, alsoWaiting_);
    setTabOrder(alsoWaiting_, detailsToggle_);
    setTabOrder(detailsToggle_, details_);
    setTabOrder(details_, allow_);
    setTabOrder(allow_, block_);

    armTimer_.setTimerType(Qt::PreciseTimer);
    connect(&slideTimer_, &gui::Timer::timeout, this, &AlertDialog::SlideStep);
    connect(&arrowTimer_, &gui::Timer::timeout, this, &AlertDialog::AdvanceArrow);
    connect(&armTimer_, &gui::Timer::timeout, this, [this] {
        armed_ = true;
        allow_->setEnabled(true);
        block_->setEnabled(true);
    });
    // Every key and click meant for this window passes here first.
    qApp->installEventFilter(this);
    SetQuestion(content);
}

void AlertDialog::SetQuestion(const AlertContent& content)
{
    answered_ = false;
    outgoing_ = content.outgoing;
    // The window's name stays the engine's English: scripts and tools find
    // the alert by it, and the window shows its own banner instead.
    setWindowTitle(content.caption);
    programIcon_->setPixmap(gui::ProgramPixmap(content.icon, kIconPixels));
    message_->setText(content.ShownMessage());
    const QString path = AlertContent::Visible(content.path);
    path_->setText(path_->fontMetrics().elidedText(path, Qt::ElideMiddle, path_->width()));
    path_->setToolTip(path);
    const QPixmap arrow = gui::art::ArrowIcon(kIconPixels, outgoing_);
    for (QLabel* label : arrows_)
        label->setPixmap(arrow);
    step_ = 3;
    arrows_[0]->show();
    arrows_[1]->hide();
    arrows_[2]->hide();
    peer_->setText(content.peer);
    host_ = outgoing_ ? content.host : QString();
    // An engine that predates lengths and scopes takes this connection or
    // always, for every connection or (named) the host alone.
    const bool choices = content.timedMinutes > 0;
    length_->blockSignals(true);
    length_->clear();
    length_->addItem(tr("this connection only"), kOnce);
    if (choices) {
        length_->addItem(tr("until the program quits"), kProcess);
        length_->addItem(TimedWords(content.timedMinutes), kTimed);
    }
    length_->addItem(tr("always"), kAlways);
    length_->setCurrentIndex(0);
    length_->blockSignals(false);
    scope_->clear();
    // A peer's name or address, cut in its middle when long: both ends tell names apart.
    const QString peer = host_.isEmpty() ? content.peer : host_;
    const QString shownPeer = scope_->fontMetrics().elidedText(peer, Qt::ElideMiddle, Px(110));
    const QString port = QString::number(content.port);
    if (choices && content.port > 0)
        scope_->addItem(tr("%1, port %2").arg(shownPeer, port), kPeerAndPort);
    if (!host_.isEmpty())
        scope_->addItem(tr("%1, any port").arg(shownPeer), kHost);
    if (choices && content.port > 0)
        scope_->addItem((outgoing_ ? tr("port %1, any host") : tr("port %1, any peer")).arg(port), kPort);
    scope_->addItem(tr("any connection of %1").arg(AlertContent::Visible(content.ProgramName())), kAny);
    scope_->setToolTip(content.program.isEmpty() ? content.checkBox
                       : outgoing_ ? tr("Apply my decision to all %1 outgoing traffic").arg(content.ProgramName())
                                   : tr("Apply my decision to all %1 incoming traffic").arg(content.ProgramName()));
    scope_->setCurrentIndex(0);
    scope_->setEnabled(false);
    scopeLabel_->setEnabled(false);
    alsoWaiting_->setChecked(false);
    details_->setPlainText(content.Details());
    Relayout();
    Place();
    Arm();
}

void AlertDialog::SetWaiting(int waiting, int sameProgram)
{
    moreWaiting_->setText(tr("%n more waiting", nullptr, waiting));
    moreWaiting_->setVisible(waiting > 0);
    const bool offered = sameProgram > 0;
    alsoWaiting_->setText(tr("Also for the %n &waiting from this program", nullptr, sameProgram));
    if (!offered)
        alsoWaiting_->setChecked(false);
    if (offered != !alsoWaiting_->isHidden()) {
        alsoWaiting_->setVisible(offered);
        Relayout();
        Place();
    }
}

void AlertDialog::SetSecondsLeft(int seconds)
{
    timeLeft_->setText(tr("Block in %n s", nullptr, seconds));
    timeLeft_->setVisible(seconds > 0);
}

void AlertDialog::Relayout()
{
    int row = 134;
    lengthLabel_->setGeometry(Units(37, row, 46, 12));
    length_->setGeometry(Units(84, row, 179, 12));
    row += 14;
    scopeLabel_->setGeometry(Units(37, row, 46, 12));
    scope_->setGeometry(Units(84, row, 179, 12));
    row += 2;
    if (!alsoWaiting_->isHidden()) {
        row += 11;
        alsoWaiting_->setGeometry(Units(37, row, 226, 10).adjusted(0, -2, 0, 2));
    }
    row += 12;
    detailsToggle_->setGeometry(Units(35, row, 80, 11));
    int top = Py(row + 13);
    const int below = Py(2) + Py(14) + Py(7); // the buttons' row and the margin under it
    if (!details_->isHidden()) {
        // The window stays wholly on the screen: the details give way first.
        const int room = area_.height() - top - Py(3) - below;
        const int height = qMax(Py(kDetailsMinimumUnits), qMin(Py(kDetailsUnits), room));
        details_->setGeometry(Px(37), top, Px(226), height);
        top += height + Py(3);
    }
    const int buttons = top + Py(2);
    allow_->setGeometry(Px(72), buttons, Px(50), Py(14));
    block_->setGeometry(Px(130), buttons, Px(50), Py(14));
    timeLeft_->setGeometry(Px(4), buttons + Py(2), Px(66), Py(10));
    moreWaiting_->setGeometry(Px(184), buttons + Py(2), Px(82), Py(10));
    setFixedSize(Px(kWidthUnits), top + below);
}

QRect AlertDialog::Target() const
{
    // The bottom-right corner of the available area (above a panel at the
    // bottom), and never past its top or left edge.
    const int x = qMax(area_.left(), area_.right() + 1 - width());
    const int y = qMax(area_.top(), area_.bottom() + 1 - height());
    return QRect(QPoint(x, y), size());
}

void AlertDialog::Place()
{
    if (!isVisible())
        return;
    const QRect target = Target();
    move(target.x(), target.y() + (slideTimer_.isActive() ? slideOffset_ : 0));
}

void AlertDialog::Start()
{
    if (isVisible()) {
        Place();
        return;
    }
    area_ = PointerScreenArea();
    Relayout();
    chosen_ = false;
    // Just out of sight: under the bottom edge of the whole screen.
    const QScreen* screen = QGuiApplication::screenAt(area_.center());
    const int screenBottom = screen ? screen->geometry().bottom() : area_.bottom();
    slideOffset_ = qMax(0, screenBottom + 1 - Target().y());
    const QRect target = Target();
    move(target.x(), target.y() + slideOffset_);
    arrowTimer_.stop();
    slideTimer_.start();
    shownAt_ = gui::Clock::Instance().Now();
    Arm();
    show();
    raise();
}

void AlertDialog::SlideStep()
{
    slideOffset_ = qMax(0, slideOffset_ - kSlideStepPixels);
    const QRect target = Target();
    move(target.x(), target.y() + slideOffset_);
    if (slideOffset_ > 0)
        return;
    slideTimer_.stop();
    arrowTimer_.start();
}

void AlertDialog::Arm()
{
    armed_ = false;
    allow_->setEnabled(false);
    block_->setEnabled(false);
    armTimer_.start();
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

AlertDialog::Length AlertDialog::ChosenLength() const
{
    return static_cast<Length>(length_->currentData().toInt());
}

AlertDialog::Scope AlertDialog::ChosenScope() const
{
    return static_cast<Scope>(scope_->currentData().toInt());
}

QString AlertDialog::TimedWords(int minutes)
{
    // One apart: a translation's plural forms start at two.
    if (minutes % 60 != 0)
        return minutes == 1 ? tr("for 1 minute") : tr("for %n minutes", nullptr, minutes);
    const int hours = minutes / 60;
    return hours == 1 ? tr("for 1 hour") : tr("for %n hours", nullptr, hours);
}

bool AlertDialog::DetailsShown() const { return !details_->isHidden(); }

void AlertDialog::Press(int button)
{
    if (!armed_ || (button != kAllow && button != kBlock))
        return;
    Answer(button);
}

void AlertDialog::Answer(int button)
{
    if (answered_)
        return;
    answered_ = true;
    emit Answered(button, ChosenLength(), ChosenScope(), !alsoWaiting_->isHidden() && alsoWaiting_->isChecked());
}

bool AlertDialog::HandleKey(QKeyEvent* key)
{
    // Not chosen yet, or a question just replaced: the key was meant for
    // another window, or for the question before.
    if (!chosen_ || !armed_)
        return true;
    emit UserPresent();
    const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;
    // A, Shift+A and the mnemonic's Alt+A; Ctrl+A still selects the details.
    const bool letter = (modifiers & ~(Qt::ShiftModifier | Qt::AltModifier)) == Qt::NoModifier;
    switch (key->key()) {
    case Qt::Key_A:
        if (!letter)
            return false;
        Press(kAllow);
        return true;
    case Qt::Key_B:
        if (!letter)
            return false;
        Press(kBlock);
        return true;
    case Qt::Key_Escape:
        Press(kBlock);
        return true;
    case Qt::Key_W:
        if (!letter)
            return false;
        if (!alsoWaiting_->isHidden())
            alsoWaiting_->toggle();
        return true;
    case Qt::Key_D:
        if (!letter)
            return false;
        detailsToggle_->toggle();
        return true;
    case Qt::Key_L:
        if (!letter)
            return false;
        length_->setFocus(Qt::ShortcutFocusReason);
        return true;
    case Qt::Key_T:
        if (!letter)
            return false;
        if (scope_->isEnabled())
            scope_->setFocus(Qt::ShortcutFocusReason);
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return true;
    default:
        return false;
    }
}

bool AlertDialog::eventFilter(QObject* watched, QEvent* event)
{
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != this)
        return false;
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        chosen_ = true;
        emit UserPresent();
        return false;
    case QEvent::WindowActivate:
        // Switched to after it showed a while unfocused: chosen. A window
        // manager that focuses it as it appears does so at once, and that
        // is no choice of the user's.
        if (widget == this && shownAt_ >= 0 && gui::Clock::Instance().Now() - shownAt_ >= kForcedFocusMs)
            chosen_ = true;
        return false;
    case QEvent::Wheel:
        // A wheel turned over the alert on its way elsewhere never changes
        // how long or for what an answer is: only a choice the user focused
        // in the alert they chose.
        return (widget == length_ || widget == scope_) && (!chosen_ || !armed_ || !widget->hasFocus());
    case QEvent::ShortcutOverride:
        // Every key comes as a key press, to HandleKey: no mnemonic answers
        // behind the gate's back.
        event->accept();
        return true;
    case QEvent::Shortcut:
        return true;
    case QEvent::KeyPress:
        return HandleKey(static_cast<QKeyEvent*>(event));
    case QEvent::KeyRelease:
        return !chosen_ || !armed_;
    default:
        return false;
    }
}

void AlertDialog::reject() { Press(kBlock); }

void AlertDialog::closeEvent(QCloseEvent* event)
{
    // Closed by the window manager: nobody allowed anything. The window
    // stays for the questions that wait; the one who owns it hides it.
    event->ignore();
    Answer(kBlock);
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
    emit Shown();
}

void AlertDialog::hideEvent(QHideEvent* event)
{
    QDialog::hideEvent(event);
    slideTimer_.stop();
    arrowTimer_.stop();
}

}  // namespace alert
