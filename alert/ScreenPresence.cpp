#include "alert/ScreenPresence.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QFileInfo>

namespace alert {

namespace {

constexpr int kCallTimeoutMs = 1000;

struct ScreenSaver {
    const char* service;
    const char* path;
    const char* interface;
};

// Each answers GetActive: true while it covers the screen.
constexpr ScreenSaver kScreenSavers[] = {
    {"org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver", "org.freedesktop.ScreenSaver"},
    {"org.gnome.ScreenSaver", "/org/gnome/ScreenSaver", "org.gnome.ScreenSaver"},
    {"org.mate.ScreenSaver", "/org/mate/ScreenSaver", "org.mate.ScreenSaver"},
    {"org.cinnamon.ScreenSaver", "/org/cinnamon/ScreenSaver", "org.cinnamon.ScreenSaver"},
    {"org.xfce.ScreenSaver", "/org/xfce/ScreenSaver", "org.xfce.ScreenSaver"},
};

// The login manager's object for the caller's session, else its user's
// graphical one.
constexpr const char* kLoginService = "org.freedesktop.login1";
constexpr const char* kOwnSession = "/org/freedesktop/login1/session/auto";
constexpr const char* kSessionInterface = "org.freedesktop.login1.Session";

}  // namespace

ScreenPresence::ScreenPresence(QObject* parent, int intervalMs) : QObject(parent)
{
    interval_.setInterval(intervalMs);
    connect(&interval_, &gui::Timer::timeout, this, &ScreenPresence::Look);
    const QString tag = QString::number(reinterpret_cast<quintptr>(this), 16);
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS")
        || (!runtime.isEmpty() && QFileInfo(runtime + "/bus").exists())) {
        sessionName_ = "zel-presence-session-" + tag;
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, sessionName_);
    }
    if (qEnvironmentVariableIsSet("DBUS_SYSTEM_BUS_ADDRESS") || QFileInfo("/run/dbus/system_bus_socket").exists()) {
        systemName_ = "zel-presence-system-" + tag;
        QDBusConnection::connectToBus(QDBusConnection::SystemBus, systemName_);
    }
}

ScreenPresence::~ScreenPresence()
{
    if (!sessionName_.isEmpty())
        QDBusConnection::disconnectFromBus(sessionName_);
    if (!systemName_.isEmpty())
        QDBusConnection::disconnectFromBus(systemName_);
}

void ScreenPresence::Watch(bool watching)
{
    if (watching == interval_.isActive())
        return;
    if (watching) {
        Look();
        interval_.start();
    } else {
        interval_.stop();
    }
}

void ScreenPresence::Report(const std::string& source, bool away)
{
    said_[source] = away;
    bool anyAway = false;
    for (const auto& [name, says] : said_)
        anyAway = anyAway || says;
    if (anyAway == away_)
        return;
    away_ = anyAway;
    emit Changed(away_);
}

void ScreenPresence::Look()
{
    for (const ScreenSaver& saver : kScreenSavers)
        Ask(saver.service, saver.service, saver.path, saver.interface);
    AskSession();
}

void ScreenPresence::Ask(const QString& source, const QString& service, const QString& path, const QString& interface)
{
    if (sessionName_.isEmpty())
        return;
    const QDBusConnection bus(sessionName_);
    if (!bus.isConnected())
        return;
    const QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, "GetActive");
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, kCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, source](QDBusPendingCallWatcher* done) {
        const QDBusPendingReply<bool> reply = *done;
        Report(source.toStdString(), !reply.isError() && reply.value());
        done->deleteLater();
    });
}

void ScreenPresence::AskSession()
{
    if (systemName_.isEmpty())
        return;
    const QDBusConnection bus(systemName_);
    if (!bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(kLoginService, kOwnSession, "org.freedesktop.DBus.Properties",
                                                       "GetAll");
    call << QString(kSessionInterface);
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, kCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* done) {
        const QDBusPendingReply<QVariantMap> reply = *done;
        done->deleteLater();
        if (reply.isError()) {
            Report("login1", false);
            return;
        }
        const QVariantMap properties = reply.value();
        const bool locked = properties.value("LockedHint").toBool();
        // A graphical session on a seat that is not in front: another
        // session shows, nobody sees ours.
        const QString type = properties.value("Type").toString();
        const bool graphical = type == "x11" || type == "wayland" || type == "mir";
        const bool behind = graphical && properties.contains("Active") && !properties.value("Active").toBool();
        Report("login1", locked || behind);
    });
}

}  // namespace alert
