#include "panel/control/BackstopWatch.h"

#include "gui/Timer.h"
#include "os/hooksafe/RuntimeFolder.h"
#include "protocol/BackstopSocket.h"

#include <QProcess>

#include <climits>
#include <sys/stat.h>
#include <unistd.h>

namespace panel {

namespace {

bool IsFolder(const std::string& path)
{
    struct stat st {};
    return !path.empty() && ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

BackstopWatch::BackstopWatch(QObject* parent) : QObject(parent), check_(new gui::Timer(this, kCheckMs))
{
    // Never by a search of PATH: what pkexec runs as root is named in full.
    if (const panel::KernelLayerPrograms installed = panel::InstalledKernelLayerPrograms(); !installed.admin.empty())
        StartCommand = {"/usr/bin/pkexec", QString::fromStdString(installed.admin), "start"};
    Running = [] { return protocol::backstop_socket::Answers(protocol::backstop_socket::ForThisUser()); };
    UnitLink = "/etc/systemd/system/multi-user.target.wants/zel-backstop@" + std::to_string(::getuid()) + ".service";
    char folder[PATH_MAX];
    if (os::ResolveRuntimeFolder(folder, sizeof folder) == os::RuntimeFolderProblem::kNone)
        MarkPath = std::string(folder) + "/backstop-login-start";
    connect(check_, &gui::Timer::timeout, this, &BackstopWatch::Check);
}

void BackstopWatch::Start()
{
    const bool running = Running();
    // Without a runtime folder (no mark can be kept) it is taken for tried.
    decision_ = panel::DecideLoginStart(!StartCommand.isEmpty(), IsFolder(SystemdFolder), running, MarkPath,
                                        panel::LoginName(ProcRoot));
    if (decision_ == panel::LoginStart::kStart) {
        startedHere_ = true;
        start_ = new QProcess(this);
        start_->setWorkingDirectory("/");
        start_->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        connect(start_, &QProcess::finished, this, [this](int exitStatus, QProcess::ExitStatus how) {
            start_->deleteLater();
            start_ = nullptr;
            emit LoginStartEnded(how == QProcess::NormalExit ? exitStatus : -1);
        });
        connect(start_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
            if (error != QProcess::FailedToStart)
                return;
            start_->deleteLater();
            start_ = nullptr;
            emit LoginStartEnded(-1);
        });
        start_->start(StartCommand.first(), StartCommand.mid(1));
    }
    watch_.Observe(running, false);
    check_->start();
}

void BackstopWatch::Check()
{
    // While pkexec still asks, nothing is expected yet.
    struct stat st {};
    const bool expected = (startedHere_ && !start_) || (!UnitLink.empty() && ::stat(UnitLink.c_str(), &st) == 0);
    const panel::KernelLayerWatch::Event event = watch_.Observe(Running(), expected);
    if (event == panel::KernelLayerWatch::Event::kNone)
        return;
    emit Changed(QString::fromStdString(panel::KernelLayerEventTitle()),
                 QString::fromStdString(panel::KernelLayerEventText(event)),
                 event != panel::KernelLayerWatch::Event::kBack);
}

}  // namespace panel
