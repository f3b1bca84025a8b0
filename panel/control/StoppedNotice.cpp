#include "panel/control/StoppedNotice.h"

#include "os/Files.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QFileInfo>
#include <QSaveFile>
#include <QVariantMap>

#include <unistd.h>

namespace panel::stopped_notice {

namespace {

constexpr const char* kService = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";
constexpr const char* kInterface = "org.freedesktop.Notifications";
constexpr const char* kFileName = "/stopped-notice";
// The panel is on its way out: a notification server that does not answer
// at once is not waited for.
constexpr int kCallTimeoutMs = 1000;
constexpr unsigned char kCritical = 2; // stays until the user closes it
// Two numbers and their line ends; a longer file is not one this panel wrote.
constexpr size_t kMostFileBytes = 64;
constexpr qint64 kEarliestTime = 946684800; // 1 January 2000
// The clock may have been set back a little since the shutdown.
constexpr qint64 kClockSlack = 60;

// Only a bus the session has: never one started for us.
bool HasSessionBus()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS")
        || (!runtime.isEmpty() && QFileInfo(runtime + "/bus").exists());
}

QDBusMessage Message(const char* method, const QVariantList& arguments)
{
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
    call.setArguments(arguments);
    return call;
}

}  // namespace

bool Post(const QString& folder, qint64 now)
{
    uint id = 0;
    if (HasSessionBus()) {
        QVariantMap hints;
        hints.insert("urgency", QVariant::fromValue(kCritical));
        hints.insert("desktop-entry", QString("tessary"));
        const QDBusMessage reply = QDBusConnection::sessionBus().call(
            Message("Notify", {QString("Korvel Firewall"), 0u, QString("tessary"), QCoreApplication::translate("panel::StoppedNotice", "Korvel Firewall is shut down"),
                               QCoreApplication::translate(
                                   "panel::StoppedNotice",
                                   "Programs are no longer filtered. Start it again from the menu: Korvel Firewall."),
                               QStringList(), hints, 0}),
            QDBus::Block, kCallTimeoutMs);
        if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty())
            id = reply.arguments().constFirst().toUInt();
    }
    if (!folder.isEmpty()) {
        QSaveFile file(folder + kFileName);
        if (file.open(QIODevice::WriteOnly) && file.write(QByteArray::number(id) + '\n' + QByteArray::number(now) + '\n') > 0)
            file.commit();
    }
    return id != 0;
}

std::optional<Trace> Withdraw(const QString& folder, qint64 now)
{
    if (folder.isEmpty())
        return std::nullopt;
    const std::string path = (folder + kFileName).toStdString();
    // Never waited on (a FIFO), never followed (a link to a device).
    const std::optional<std::string> text = os::ReadFile(path, kMostFileBytes + 1, false);
    // Whatever was put there, it is for one start only.
    ::unlink(path.c_str());
    if (!text)
        return std::nullopt;
    Trace trace;
    if (text->size() > kMostFileBytes)
        return trace;
    const QList<QByteArray> lines = QByteArray::fromStdString(*text).split('\n');
    bool number = false;
    const uint id = lines.value(0).trimmed().toUInt(&number);
    // The panel is starting: nothing waits for the notification server.
    if (number && id != 0 && HasSessionBus())
        QDBusConnection::sessionBus().send(Message("CloseNotification", {id}));
    bool time = false;
    const qint64 at = lines.value(1).trimmed().toLongLong(&time);
    if (time && at >= kEarliestTime && at <= now + kClockSlack)
        trace.shutDownAt = at;
    return trace;
}

}  // namespace panel::stopped_notice
