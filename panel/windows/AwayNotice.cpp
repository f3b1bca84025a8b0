#include "panel/windows/AwayNotice.h"

#include "gui/Timer.h"
#include "panel/dialogs/AwayDecisionsWindow.h"
#include "protocol/AwayDecisions.h"

#include <sys/stat.h>

namespace panel {

AwayNotice::AwayNotice(panel::PanelCore& core, std::string listPath, QWidget* parent)
    : QPushButton(parent), core_(core), listPath_(std::move(listPath)), timer_(new gui::Timer(this, kCheckMs))
{
    setObjectName("AwayNotice");
    setFlat(true);
    // Red that reads on the palette's background, light or dark.
    const bool dark = palette().color(QPalette::Window).lightness() < 128;
    setStyleSheet(dark ? "color: rgb(255, 120, 110); text-align: left;" : "color: rgb(160, 0, 0); text-align: left;");
    setCursor(Qt::PointingHandCursor);
    hide();
    connect(this, &QPushButton::clicked, this, &AwayNotice::OpenList);
    connect(timer_, &gui::Timer::timeout, this, &AwayNotice::Check);
    timer_->start();
    Check();
}

void AwayNotice::Check()
{
    struct stat st {};
    const bool exists = !listPath_.empty() && ::stat(listPath_.c_str(), &st) == 0;
    const off_t size = exists ? st.st_size : 0;
    const long long changed = exists ? st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec : 0;
    if (size == size_ && changed == changed_)
        return;
    size_ = size;
    changed_ = changed;
    const int before = count_;
    count_ = exists ? static_cast<int>(protocol::away::ReadAll(listPath_).size()) : 0;
    // Alt+R opens the list from anywhere in the window. English has no
    // translation of its own to pick its singular: that is a text apart.
    setText(count_ == 1 ? tr("1 connection was decided while you were away: &review")
                        : tr("%n connections were decided while you were away: &review", nullptr, count_));
    setVisible(count_ > 0);
    if (count_ > before)
        emit MoreDecided();
}

QString AwayNotice::BalloonTitle() { return tr("Decided while you were away"); }

QString AwayNotice::BalloonText()
{
    return tr("Programs asked while nobody was at the screen, and your setting answered. Open the control panel to "
              "review.");
}

void AwayNotice::OpenList()
{
    // Parented to the main window: the notice's red would colour the whole list.
    AwayDecisionsWindow list(core_, listPath_, window());
    connect(&list, &AwayDecisionsWindow::RuleMade, this, &AwayNotice::RuleMade);
    list.exec();
    Check();
}

}  // namespace panel
