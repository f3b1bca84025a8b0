#include "panel/control/StoppedNotice.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QVariantMap>

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

QString Tr(const char* text) { return QCoreApplication::translate("panel::StoppedNotice", text); }

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

bool Post(const QString& folder)
{
    if (!HasSessionBus())
        return false;
    QVariantMap hints;
    hints.insert("urgency", QVariant::fromValue(kCritical));
    hints.insert("desktop-entry", QString("tessary"));
    const QDBusMessage reply = QDBusConnection::sessionBus().call(Message(
        "Notify", {QString("Korvel Firewall"), 0u, QString("tessary"), Tr("Korvel Firewall is shut down"),
                   Tr("Programs are no longer filtered. Start it again from the menu: Korvel Firewall."),
                   QStringList(), hints, 0}), QDBus::Block, kCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return false;
    const uint id = reply.arguments().constFirst().toUInt();
    if (!folder.isEmpty()) {
        QSaveFile file(folder + kFileName);
        if (file.open(QIODevice::WriteOnly) && file.write(QByteArray::number(id)) > 0)
            file.commit();
    }
    return id != 0;
}

void Withdraw(const QString& folder)
{
    if (folder.isEmpty())
        return;
    // A pipe in its place would hold the start up: only a plain file is read.
    QFile file(folder + kFileName);
    const QFileInfo info(file);
    if (!info.isFile() || info.isSymLink()) {
        QFile::remove(file.fileName());
        return;
    }
    if (!file.open(QIODevice::ReadOnly))
        return;
    bool number = false;
    const uint id = file.read(16).trimmed().toUInt(&number);
    file.close();
    file.remove();
    if (number && id != 0 && HasSessionBus()) {
        // The panel is starting: nothing waits for the notification server.
        QDBusConnection::sessionBus().send(Message("CloseNotification", {id}));
    }
}

}  // namespace panel::stopped_notice
