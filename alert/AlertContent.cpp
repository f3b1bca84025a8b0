#include "AlertContent.h"

#include <QStringList>

void AlertContent::Set(const std::string& key, const QString& value)
{
    if (key == "caption")
        caption = value;
    else if (key == "message")
        message = value;
    else if (key == "checkbox")
        checkBox = value;
    else if (key == "peer")
        peer = value;
    else if (key == "icon")
        icon = value;
    else if (key == "direction")
        outgoing = value != "incoming";
    else if (key == "host")
        host = value;
    else if (key == "timeout")
        timeoutSeconds = qBound(0, value.toInt(), 3600);
    else if (key == "away") {
        // "BUTTON SECONDS"
        const QStringList parts = value.split(' ');
        const int button = parts.value(0).toInt();
        awayButton = button == 1 || button == 2 ? button : 0;
        awaySeconds = qBound(0, parts.value(1).toInt(), 3600);
    }
    else if (key == "choices")
        timedMinutes = qBound(0, value.toInt(), 7 * 24 * 60);
    else if (key == "port")
        port = qBound(0, value.toInt(), 65535);
    else if (key == "path")
        path = value;
    else if (key == "pid")
        pid = qMax<qint64>(0, value.toLongLong());
    else if (key == "user")
        user = value;
    else if (key == "cmdline")
        commandLine = value;
    else if (key == "parentpid")
        parentPid = qMax<qint64>(0, value.toLongLong());
    else if (key == "parent")
        parentPath = value;
}

QString AlertContent::ProgramKey() const
{
    return QString::number(pid) + '\n' + path + '\n' + (outgoing ? "out" : "in");
}

namespace {

QString FileName(const QString& path) { return path.mid(path.lastIndexOf('/') + 1); }

}  // namespace

QString AlertContent::ProgramName() const
{
    const QString name = FileName(path);
    return name.isEmpty() ? caption : name;
}

QString AlertContent::Details() const
{
    QStringList lines;
    const QString name = Visible(ProgramName());
    if (!path.isEmpty())
        lines << "Program: " + Visible(path);
    if (pid > 0)
        lines << "Process: " + QString::number(pid) + (user.isEmpty() ? QString() : ", run by " + Visible(user));
    if (!commandLine.isEmpty())
        lines << "Command line: " + Visible(commandLine);
    if (parentPid > 0)
        lines << "Started by: " + (parentPath.isEmpty() ? QString() : Visible(parentPath) + " ")
                     + "(process " + QString::number(parentPid) + ")";
    lines << QString();
    // A helper program connects for the one the user started (git starts
    // git-remote-http): the answer is about the helper.
    const QString parentName = Visible(FileName(parentPath));
    if (!parentName.isEmpty() && parentName != name)
        lines << "The program asking is " + name + ", started by " + parentName + ". Your answer is for " + name
                + ": a rule for " + parentName + " does not cover it.";
    else
        lines << "The program asking is " + name + ".";
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
