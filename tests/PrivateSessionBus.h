#pragma once

// A session bus of the test's own (dbus-daemon), made the process's session
// bus while it lives, with a connection on it named service for the test's
// stand-in services (served by this process, so its event loop runs while
// the test waits). Available() is false without dbus-daemon: skip then.
#include "tests/ChildProcess.h"

#include <QDBusConnection>
#include <QString>
#include <memory>
#include <unistd.h>

namespace testing_support {

class PrivateSessionBus {
public:
    explicit PrivateSessionBus(QString service) : service_(std::move(service))
    {
        if (::access("/usr/bin/dbus-daemon", X_OK) != 0)
            return;
        bus_ = std::make_unique<ChildProcess>(
            std::vector<std::string> {"/usr/bin/dbus-daemon", "--session", "--nofork", "--print-address=1"});
        const auto address = bus_->ReadLine();
        if (!address)
            return;
        qputenv("DBUS_SESSION_BUS_ADDRESS", QByteArray::fromStdString(*address));
        address_ = QString::fromStdString(*address);
    }
    ~PrivateSessionBus()
    {
        if (address_.isEmpty())
            return;
        QDBusConnection::disconnectFromBus(service_);
        if (previous_.isEmpty())
            qunsetenv("DBUS_SESSION_BUS_ADDRESS");
        else
            qputenv("DBUS_SESSION_BUS_ADDRESS", previous_.toUtf8());
    }
    PrivateSessionBus(const PrivateSessionBus&) = delete;
    PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

    bool Available() const { return !address_.isEmpty(); }
    // The connection the test's services are registered on.
    QDBusConnection Services() const { return QDBusConnection::connectToBus(address_, service_); }

private:
    QString service_;
    QString previous_ = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    std::unique_ptr<ChildProcess> bus_;
    QString address_;
};

}  // namespace testing_support
