#include "panel/control/PeriodicWork.h"

#include "gui/Timer.h"
#include "os/NetworkIdentity.h"
#include "panel/control/MessageChannel.h"
#include "panel/core/LogReader.h"
#include "panel/core/ProcessList.h"
#include "protocol/Profiles.h"

#include <ctime>

namespace panel {

namespace {

constexpr int kTickMs = 1000;
constexpr int kTicksPerHalfMinute = 30;
constexpr int kTicksPerRunningCheck = 3;

}  // namespace

PeriodicWork::PeriodicWork(panel::PanelCore& core, MessageChannel* channel, QObject* parent)
    : QObject(parent), core_(core), channel_(channel), tick_(new gui::Timer(this, kTickMs))
{
    connect(tick_, &gui::Timer::timeout, this, &PeriodicWork::Tick);
    connect(channel_, &MessageChannel::Traffic, this, [this](bool incoming, uint32_t amount) {
        incoming ? traffic_.AddIncoming(amount) : traffic_.AddOutgoing(amount);
    });
}

void PeriodicWork::Start() { tick_->start(); }

int PeriodicWork::Interval() const { return tick_->interval(); }

void PeriodicWork::Tick()
{
    emit Traffic(traffic_.NextTick());
    channel_->RememberCarriers();
    LookAtProfile();
    if (++ticks_ % kTicksPerHalfMinute == 0)
        emit HalfMinute();
    else if (ticks_ % kTicksPerRunningCheck == 0)
        // A program that ended leaves the list within seconds, without the
        // day's log being read again.
        emit Running(panel::StillRunning(startedRunning_, core_.ProcRoot()));
}

void PeriodicWork::Refresh()
{
    const std::time_t now = std::time(nullptr);
    startedRunning_ = panel::StartedProgramsRunning(core_.Settings().LogFilePath, core_.ProcRoot(), now, false);
    emit Running(panel::StillRunning(startedRunning_, core_.ProcRoot()));
    emit BlockedIntruders(panel::CountBlockedIntruders(core_.Settings().LogFilePath, now));
    emit ReplacedEngine(panel::ProgramsOnReplacedEngine(core_.ProcRoot()));
    LookAtProfile();
}

void PeriodicWork::LookAtProfile()
{
    // Anyone who can write the settings names it: shown escaped.
    const std::string name = os::EscapeNetworkText(protocol::profiles::ActiveName());
    if (profileShown_ && name == profile_)
        return;
    profile_ = name;
    profileShown_ = true;
    emit Profile(QString::fromStdString(name));
}

}  // namespace panel
