#include "panel/windows/TrayIcon.h"

#include "gui/Art.h"
#include "panel/core/ErrorLog.h"
#include "protocol/SettingNames.h"

#include <QAction>
#include <QActionGroup>
#include <QCursor>
#include <QIcon>
#include <QMenu>
#include <QPainter>
#include <QSystemTrayIcon>

#include <iterator>

namespace panel {

namespace {

constexpr uint32_t kDoubleClick = 0x0203;
constexpr uint32_t kRightButtonUp = 0x0205;
// Translated where the menu is made; the English is what the level is known by.
constexpr const char* kLevelTexts[panel::kPresetLevels] = {QT_TRANSLATE_NOOP("panel::TrayIcon", "&High"),
                                                           QT_TRANSLATE_NOOP("panel::TrayIcon", "&Normal"),
                                                           QT_TRANSLATE_NOOP("panel::TrayIcon", "&Low")};

using protocol::mode::Mode;

constexpr Mode kModes[] = {Mode::kAsk, Mode::kQuietAllow, Mode::kQuietBlock, Mode::kLearn};
constexpr const char* kModeTexts[] = {QT_TRANSLATE_NOOP("panel::TrayIcon", "&Ask me"),
                                      QT_TRANSLATE_NOOP("panel::TrayIcon", "&Quiet: allow"),
                                      QT_TRANSLATE_NOOP("panel::TrayIcon", "Quiet: &block")};

// The firewall's icon with the state's mark in its lower right corner:
// none while filtering, the block mark for Block All, and for not filtering
// the icon faded with a question mark, so that the three differ at 16
// pixels; a mode that does not ask puts its badge in the upper left one.
QPixmap Marked(const QIcon& base, panel::Filtering filtering, Mode mode, int size)
{
    QPixmap pixmap = base.pixmap(size, size);
    if (filtering == panel::Filtering::kAtLevel) {
        if (mode == Mode::kAsk)
            return pixmap;
        QPainter p(&pixmap);
        const gui::art::ModeBadge badge = mode == Mode::kQuietAllow   ? gui::art::ModeBadge::kQuietAllow
                                          : mode == Mode::kQuietBlock ? gui::art::ModeBadge::kQuietBlock
                                                                      : gui::art::ModeBadge::kLearn;
        p.drawPixmap(0, 0, gui::art::ModeBadgeIcon(badge, size / 2));
        return pixmap;
    }
    QPixmap marked(size, size);
    marked.fill(Qt::transparent);
    QPainter p(&marked);
    if (filtering == panel::Filtering::kStopped)
        p.setOpacity(0.35);
    p.drawPixmap(0, 0, pixmap);
    p.setOpacity(1);
    const int mark = size * 5 / 8;
    const gui::art::Mark kind = filtering == panel::Filtering::kBlockAll ? gui::art::Mark::kBlock : gui::art::Mark::kAsk;
    p.drawPixmap(size - mark, size - mark, gui::art::StatusIcon(kind, mark));
    return marked;
}

}  // namespace

TrayIcon::TrayIcon(const QIcon& icon, QWidget* window) : QObject(window), base_(icon)
{
    setObjectName("TrayIcon");
    menu_ = new QMenu("SystrayMnu", window);
    menu_->setObjectName("SysTrayMenu");
    QAction* show = menu_->addAction(tr("&View Korvel Firewall Settings"));
    show->setObjectName("MaxMnu");
    menu_->setDefaultAction(show);
    menu_->addSeparator();
    blockAll_ = menu_->addAction(tr("&Block All"));
    blockAll_->setObjectName("BlockAllMnu");
    blockAll_->setCheckable(true);
    levelMenu_ = menu_->addMenu(tr("Security &level"));
    levelMenu_->setObjectName("LevelMnu");
    auto* group = new QActionGroup(levelMenu_);
    for (int level = 0; level < panel::kPresetLevels; ++level) {
        levels_[level] = levelMenu_->addAction(tr(kLevelTexts[level]));
        levels_[level]->setCheckable(true);
        levels_[level]->setObjectName(QString("LevelMnu%1").arg(level));
        group->addAction(levels_[level]);
        connect(levels_[level], &QAction::triggered, this, [this, level] { emit LevelChosen(level); });
    }
    // Custom defaults are set in the window; the menu only says so.
    custom_ = levelMenu_->addAction(tr("Custom"));
    custom_->setCheckable(true);
    custom_->setEnabled(false);
    group->addAction(custom_);
    // How a question is answered: by the user, quietly, or learnt for a time.
    auto* modeMenu = menu_->addMenu(tr("&Mode"));
    modeMenu->setObjectName("ModeMnu");
    auto* modeGroup = new QActionGroup(modeMenu);
    for (size_t i = 0; i < std::size(kModes); ++i) {
        const Mode mode = kModes[i];
        const QString caption = mode == Mode::kLearn
            ? tr("&Learn for %n days", nullptr, protocol::settings::kDefaultLearnDays)
            : tr(kModeTexts[i]);
        modes_[i] = modeMenu->addAction(caption);
        modes_[i]->setCheckable(true);
        modes_[i]->setObjectName(QString("ModeMnu%1").arg(i));
        modeGroup->addAction(modes_[i]);
        connect(modes_[i], &QAction::triggered, this, [this, mode] { emit ModeChosen(mode); });
    }
    menu_->addSeparator();
    QAction* exit = menu_->addAction(tr("&Shut Down Korvel Firewall"));
    exit->setObjectName("ExitMnu");
    connect(show, &QAction::triggered, this, &TrayIcon::RestoreRequested);
    connect(blockAll_, &QAction::triggered, this, &TrayIcon::BlockAllToggled);
    connect(exit, &QAction::triggered, this, &TrayIcon::ShutDownRequested);
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        panel::WriteErrLog("SysTrayIcon : AddIcon",
                           "the desktop has no notification area; the window stays in the task bar");
        return;
    }
    icon_ = new QSystemTrayIcon(icon, this);
    icon_->setObjectName("SystTrayIcon");
    icon_->setToolTip(tr("Korvel Firewall"));
    connect(icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::DoubleClick)
            MouseMessage(kDoubleClick);
        else if (reason == QSystemTrayIcon::Context && MouseMessage(kRightButtonUp) == 1)
            PopUpMenu();
    });
    connect(icon_, &QSystemTrayIcon::messageClicked, this, [this] {
        if (balloonOpensReview_)
            emit ReviewRequested();
    });
    icon_->show();
}

int TrayIcon::MouseMessage(uint32_t message)
{
    if (message == kDoubleClick) {
        emit RestoreRequested();
        return 0;
    }
    return message == kRightButtonUp ? 1 : 0;
}

void TrayIcon::PopUpMenu() { menu_->popup(QCursor::pos()); }

void TrayIcon::Hide()
{
    if (icon_)
        icon_->hide();
}

void TrayIcon::ShowBalloon(const QString& title, const QString& text, bool warning)
{
    balloonOpensReview_ = false;
    ++balloonsTold_;
    lastBalloon_ = text;
    if (icon_)
        icon_->showMessage(title, text, warning ? QSystemTrayIcon::Warning : QSystemTrayIcon::Information, 15000);
}

void TrayIcon::ShowReviewBalloon(const QString& title, const QString& text)
{
    ShowBalloon(title, text, false);
    balloonOpensReview_ = true;
}

QIcon TrayIcon::StateIcon(panel::Filtering filtering, Mode mode) const
{
    QIcon icon;
    for (const int size : {16, 22, 24, 32, 48, 64})
        icon.addPixmap(Marked(base_, filtering, mode, size));
    return icon;
}

void TrayIcon::ShowState(const panel::FilterState& state)
{
    const bool iconChanged = state.filtering != state_.filtering || state.mode != state_.mode;
    state_ = state;
    blockAll_->setChecked(state.filtering == panel::Filtering::kBlockAll);
    // While everything is blocked the level does not apply; it can still be chosen.
    for (int level = 0; level < panel::kPresetLevels; ++level)
        levels_[level]->setChecked(state.preset == level);
    custom_->setChecked(state.custom);
    for (size_t i = 0; i < std::size(kModes); ++i)
        modes_[i]->setChecked(state.mode == kModes[i]);
    ShowTip();
    if (!icon_)
        return;
    if (iconChanged)
        icon_->setIcon(StateIcon(state.filtering));
}

void TrayIcon::ShowProfile(const QString& name)
{
    profile_ = name;
    ShowTip();
}

void TrayIcon::ShowTip()
{
    tip_ = QString::fromStdString(state_.tip);
    if (!profile_.isEmpty())
        tip_ += "\n" + tr("Profile: %1").arg(profile_);
    if (icon_)
        icon_->setToolTip(tip_);
}

}  // namespace panel
