#include "panel/windows/ServiceDefaults.h"

#include "os/Paths.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>
#include <QProcess>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <tuple>
#include <unistd.h>

namespace panel {

namespace {

// pkexec's exit statuses when no administrator agreed.
constexpr int kPkexecDismissed = 126;
constexpr int kPkexecNotAuthorized = 127;

// Writes text to a new file of the runtime folder only this user can read
// (mkstemp's 0600); its path, or empty (why).
std::string WritePrivate(const std::string& text, QString& why)
{
    const std::string folder = os::RuntimeDir();
    if (folder.empty()) {
        why = QString::fromStdString(os::RuntimeDirProblem());
        return {};
    }
    std::string path = folder + "/services-rules.XXXXXX";
    const int fd = ::mkostemp(path.data(), O_CLOEXEC);
    if (fd < 0) {
        why = QString::fromLocal8Bit(std::strerror(errno));
        return {};
    }
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    const int error = done == text.size() ? 0 : errno ? errno : EIO;
    if (::close(fd) != 0 || error) {
        why = QString::fromLocal8Bit(std::strerror(error ? error : errno));
        ::unlink(path.c_str());
        return {};
    }
    return path;
}

}  // namespace

ServiceDefaults::ServiceDefaults(QObject* parent) : QObject(parent) {}

ServiceDefaults::~ServiceDefaults()
{
    if (run_) {
        run_->disconnect(this);
        run_->kill();
        run_->waitForFinished(1000);
    }
    if (!file_.empty())
        ::unlink(file_.c_str());
}

bool ServiceDefaults::CanChange(const services::Service* service) const
{
    return service && !service->exePath.empty() && !Command.isEmpty() && !run_;
}

void ServiceDefaults::FillMenu(QMenu* menu, const services::Service* service)
{
    menu->clear();
    const bool can = CanChange(service);
    // The file the entry is for: a program that cannot be looked into is
    // listed by the path it names itself with, which may be another's.
    if (service && !service->exePath.empty()) {
        const QString path = QString::fromStdString(service->exePath);
        menu->addAction(service->pathFromCommandLine ? tr("For %1 (as the program names itself)").arg(path) : tr("For %1").arg(path))
            ->setEnabled(false);
    }
    using rules::Permission;
    for (const services::Direction direction : {services::Direction::kIncoming, services::Direction::kOutgoing}) {
        const bool incoming = direction == services::Direction::kIncoming;
        QMenu* choices = menu->addMenu(incoming ? tr("&Incoming connections") : tr("&Outgoing connections"));
        choices->setObjectName(incoming ? "ServiceIncoming" : "ServiceOutgoing");
        choices->setEnabled(can);
        if (!service)
            continue;
        auto* group = new QActionGroup(choices);
        const std::optional<Permission> now = incoming ? service->incoming : service->outgoing;
        for (const auto& [permission, text, name] : {std::tuple {Permission::kPermit, tr("&Permit"), "Permit"},
                                                      std::tuple {Permission::kAsk, tr("&Ask"), "Ask"},
                                                      std::tuple {Permission::kDeny, tr("&Block"), "Block"}}) {
            QAction* action = choices->addAction(text);
            action->setObjectName(name);
            action->setCheckable(true);
            action->setChecked(now == permission);
            group->addAction(action);
            connect(action, &QAction::triggered, this,
                    [this, change = services::DefaultChange {service->exePath, direction, permission}] { Change(change); });
        }
    }
}

void ServiceDefaults::Change(const services::DefaultChange& change)
{
    if (run_ || Command.isEmpty())
        return;
    std::string why, over;
    const std::optional<std::string> text = services::WithDefault(Places, change, why, over);
    if (!text) {
        emit Ended(tr("The services' rules cannot be changed: %1").arg(QString::fromStdString(why)));
        return;
    }
    QString problem;
    file_ = WritePrivate(*text, problem);
    if (file_.empty()) {
        emit Ended(tr("The new rules cannot be written for the administrator's helper: %1").arg(problem));
        return;
    }
    run_ = new QProcess(this);
    run_->setWorkingDirectory("/");
    QProcess* run = run_;
    connect(run, &QProcess::finished, this, [this, run](int exitStatus, QProcess::ExitStatus how) {
        // zel-admin says why it failed on its last line.
        const QStringList said = QString::fromLocal8Bit(run->readAllStandardError().right(4096)).split('\n', Qt::SkipEmptyParts);
        Finish(how == QProcess::NormalExit ? exitStatus : -1, said.isEmpty() ? QString() : said.last());
    });
    connect(run, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            Finish(-2, tr("%1 cannot be started.").arg(Command.first()));
    });
    emit Started();
    // Another administrator's change since the read is not undone: zel-admin refuses then.
    run->start(Command.first(), Command.mid(1) << "--over" << QString::fromStdString(over) << QString::fromStdString(file_));
}

void ServiceDefaults::Finish(int exitStatus, const QString& said)
{
    if (!run_)
        return;
    run_->deleteLater();
    run_ = nullptr;
    ::unlink(file_.c_str());
    file_.clear();
    if (exitStatus == kPkexecDismissed || exitStatus == kPkexecNotAuthorized)
        emit Ended(tr("Nothing was changed: no administrator agreed."));
    else if (exitStatus == -2)
        emit Ended(tr("Nothing was changed: %1").arg(said));
    else if (exitStatus != 0)
        emit Ended(said.isEmpty() ? tr("The services' rules were not changed.")
                                  : tr("The services' rules were not changed: %1").arg(said));
    else
        emit Ended({});
}

}  // namespace panel
