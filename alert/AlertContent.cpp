#include "alert/AlertContent.h"

#include "protocol/AlertWords.h"
#include "rules/ProgramNames.h"

#include <QCoreApplication>
#include <QStringList>

namespace alert {

namespace words = protocol::alert_words;

void AlertContent::Set(const std::string& key, const QString& value)
{
    if (key == words::kCaption)
        caption = value;
    else if (key == words::kMessage)
        message = value;
    else if (key == words::kCheckBox)
        checkBox = value;
    else if (key == words::kPeer)
        peer = value;
    else if (key == words::kIcon)
        icon = value;
    else if (key == words::kDirection)
        outgoing = value != QLatin1String(words::kIncoming.data(), static_cast<qsizetype>(words::kIncoming.size()));
    else if (key == words::kHost)
        host = value;
    else if (key == words::kTimeout)
        timeoutSeconds = qBound(0, value.toInt(), 3600);
    else if (key == words::kAway) {
        // "BUTTON SECONDS"
        const QStringList parts = value.split(' ');
        const int button = parts.value(0).toInt();
        awayButton = button == 1 || button == 2 ? button : 0;
        awaySeconds = qBound(0, parts.value(1).toInt(), 3600);
    }
    else if (key == words::kChoices)
        timedMinutes = qBound(0, value.toInt(), 7 * 24 * 60);
    else if (key == words::kPort)
        port = qBound(0, value.toInt(), 65535);
    else if (key == words::kPath) {
        path = value;
        pathBytes = value.toStdString();
    } else if (key == words::kProgram) {
        program = value;
        programBytes = value.toStdString();
    }
    else if (key == words::kCompany)
        company = value;
    else if (key == words::kProtocol)
        protocol = value == "UDP" ? value : QString("TCP");
    else if (key == words::kPid)
        pid = qMax<qint64>(0, value.toLongLong());
    else if (key == words::kUser)
        user = value;
    else if (key == words::kCommandLine)
        commandLine = value;
    else if (key == words::kParentPid)
        parentPid = qMax<qint64>(0, value.toLongLong());
    else if (key == words::kParent)
        parentPath = value;
    else if (key == words::kAncestor && ancestors.size() < kMaxAncestors)
        ancestors << value;
    else if (key == words::kEncryptedDns)
        encryptedDns = value == "1";
}

void AlertContent::Set(const std::string& key, const std::string& value)
{
    Set(key, QString::fromStdString(value));
    if (key == words::kPath)
        pathBytes = value;
    else if (key == words::kProgram)
        programBytes = value;
}

QString AlertContent::ProgramKey() const
{
    return path + '\n' + (outgoing ? "out" : "in");
}

namespace {

QString FileName(const QString& path) { return path.mid(path.lastIndexOf('/') + 1); }

}  // namespace

QString AlertContent::ProgramName() const
{
    // The bytes as they came while they are what the texts hold.
    const auto bytes = [](const std::string& raw, const QString& shown) {
        return QString::fromStdString(raw) == shown ? raw : shown.toStdString();
    };
    const std::string name = rules::program_names::DisplayName(bytes(pathBytes, path), bytes(programBytes, program));
    return name.empty() ? caption : QString::fromStdString(name);
}

QString AlertContent::ShownMessage() const
{
    if (program.isEmpty())
        return message;
    const QString text = outgoing
        ? QCoreApplication::translate("alert::AlertContent",
                                      "%1 created by %2 is trying to create %3 outgoing connection to %4 through port:%5")
        : QCoreApplication::translate("alert::AlertContent",
                                      "%1 created by %2 is trying to accept %3 incoming connection from %4 through port:%5");
    // The engine's word for a maker nobody knows reads in the user's language.
    const QString maker =
        company == QLatin1String("Unknown") ? QCoreApplication::translate("alert::AlertContent", "Unknown") : company;
    return text.arg(ProgramName(), maker, protocol, peer, QString::number(port));
}

QString AlertContent::Details() const
{
    const auto tr = [](const char* text) { return QCoreApplication::translate("alert::AlertContent", text); };
    QStringList lines;
    const QString name = Visible(ProgramName());
    if (!path.isEmpty())
        lines << tr("Program: %1").arg(Visible(path));
    if (pid > 0)
        lines << (user.isEmpty() ? tr("Process: %1").arg(pid) : tr("Process: %1, run by %2").arg(pid).arg(Visible(user)));
    if (!commandLine.isEmpty())
        lines << tr("Command line: %1").arg(Visible(commandLine));
    if (parentPid > 0)
        lines << (parentPath.isEmpty() ? tr("Started by: (process %1)").arg(parentPid)
                                       : tr("Started by: %1 (process %2)").arg(Visible(parentPath)).arg(parentPid));
    // "... ← bash ← sshd": who started the parent, and so on up.
    for (const QString& ancestor : ancestors)
        if (parentPid > 0)
            lines.last() += QString::fromUtf8(" \u2190 ") + (ancestor.isEmpty() ? QString("?") : Visible(FileName(ancestor)));
    if (encryptedDns)
        lines << tr("This is an encrypted DNS service: names this program looks up through it are hidden from the "
                    "firewall.");
    lines << QString();
    // A helper program connects for the one the user started (git starts
    // git-remote-http): the answer is about the helper.
    const QString parentName = Visible(FileName(parentPath));
    if (!parentName.isEmpty() && FileName(parentPath) != FileName(path))
        lines << tr("The program asking is %1, started by %2. Your answer is for %1: a rule for %2 does not cover it.")
                     .arg(name, parentName);
    else
        lines << tr("The program asking is %1.").arg(name);
    return lines.join('\n');
}

QString AlertContent::Visible(const QString& text)
{
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        const QChar::Category category = c.category();
        if (category == QChar::Other_Control)
            shown += QString("\\x%1").arg(c.unicode(), 2, 16, QChar('0'));
        else if (category == QChar::Other_Format)
            shown += QString("\\u{%1}").arg(c.unicode(), 4, 16, QChar('0'));
        else
            shown += c;
    }
    return shown;
}

}  // namespace alert
