#pragma once

#include <QString>
#include <QStringList>

#include <string>

namespace alert {

// One question as the engine sends it ("key<TAB>value" lines). Every text
// comes from the program that asks or from its files: it is shown as it
// stands, never read as markup.
struct AlertContent {
    QString caption;
    QString message;
    QString checkBox;
    QString peer;
    QString icon;
    bool outgoing = true;
    QString host; // the peer's name, offered as "this host only"; empty: not offered
    int timeoutSeconds = 0; // unanswered this long: Block; 0 waits for the user
    // Nobody at the screen: answered with awayButton (1 Allow, 2 Block; 0:
    // the engine did not say, the question waits) after awaySeconds.
    int awayButton = 0;
    int awaySeconds = 0;
    // The engine takes an answer's length and scope: the minutes of one "for
    // a time" (0: an engine that predates them, which takes this connection
    // or always, for every connection or the named host).
    int timedMinutes = 0;
    int port = 0; // the connection's port: the remote one, the local one for incoming

    // The parts of the caption and message (empty: an engine that sends
    // only their English).
    QString program;
    QString company;
    QString protocol;

    // Who asks: the details under the question.
    QString path;
    qint64 pid = 0;
    QString user;
    QString commandLine;
    qint64 parentPid = 0;
    QString parentPath;
    bool encryptedDns = false; // the peer is an encrypted DNS service
    // The parent's parent and up: paths, empty where unknown; more than
    // kMaxAncestors are not kept.
    static constexpr qsizetype kMaxAncestors = 3;
    QStringList ancestors;
    // path and program as their bytes came (Set).
    std::string pathBytes;
    std::string programBytes;

    // Takes one line's key and (unescaped) value; unknown keys are ignored,
    // so that an engine newer than this program still gets its question shown.
    void Set(const std::string& key, const QString& value);
    // The same from the line's bytes: the program's path and description
    // are kept as they came, so that a name that is not UTF-8 is shown
    // spelled out rather than lost (ProgramName).
    void Set(const std::string& key, const std::string& value);

    // Questions with the same key may be answered together: one program
    // (whichever of its processes asks), one direction.
    QString ProgramKey() const;
    // The program as the panel and its logs show it
    // (rules::program_names::DisplayName), else the caption.
    QString ProgramName() const;
    // The message in the user's language: in English, the engine's words
    // exactly.
    QString ShownMessage() const;
    // The details as lines of plain text, with a sentence naming the program
    // that asks, and the one that started it when that is another program.
    QString Details() const;

    // Characters that could hide or reorder what is shown (control and
    // format characters, such as a right-to-left override in a file name)
    // spelled out as \x1b or \u{202e}.
    static QString Visible(const QString& text);
};

}  // namespace alert
