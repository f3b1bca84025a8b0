// zel-alert: shows one connection alert for the rule engine. The engine
// writes the alert's texts on standard input ("key<TAB>value" lines closed
// by "end") and may later write "press 1" or "press 2"; the answer goes back
// on standard output as "answer BUTTON TICKED", followed by " host" when the
// answer applies to the named host only, or " timeout" when nobody gave it.
#include "AlertDialog.h"
#include "gui/Art.h"
#include "platform/SessionPreload.h"
#include "platform/Text.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

bool ReadLine(std::string& line)
{
    line.clear();
    char c;
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n <= 0)
            return !line.empty();
        if (c == '\n')
            return true;
        line += c;
    }
}

void Say(const char* line)
{
    std::fputs(line, stdout);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv)
{
    platform::session::StartedUnderHook(argv); // never under the hook: restarted without it
    // Without a display Qt would abort; end at once so the engine denies.
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") && !std::getenv("QT_QPA_PLATFORM")) {
        std::fprintf(stderr, "zel-alert: no display to show the alert on\n");
        return 2;
    }
    AlertContent content;
    for (std::string line; ReadLine(line) && line != "end";) {
        const size_t tab = line.find('\t');
        if (tab == std::string::npos)
            continue;
        const std::string key = line.substr(0, tab);
        const QString value = QString::fromStdString(platform::UnescapeLine(line.substr(tab + 1)));
        if (key == "caption")
            content.caption = value;
        else if (key == "message")
            content.message = value;
        else if (key == "checkbox")
            content.checkBox = value;
        else if (key == "peer")
            content.peer = value;
        else if (key == "icon")
            content.icon = value;
        else if (key == "direction")
            content.outgoing = value != "incoming";
        else if (key == "host")
            content.host = value;
        else if (key == "timeout")
            content.timeoutSeconds = qBound(0, value.toInt(), 3600);
    }

    QApplication app(argc, argv);
    app.setWindowIcon(art::AppIcon());
    AlertDialog dialog(content);
    QObject::connect(&dialog, &AlertDialog::Shown, [] { Say("shown\n"); });
    QObject::connect(&dialog, &AlertDialog::Answered, [&app, &dialog](int button, bool ticked) {
        std::printf("answer %d %d%s\n", button, ticked ? 1 : 0,
                    dialog.TimedOut() ? " timeout" : ticked && dialog.HostOnly() ? " host" : "");
        std::fflush(stdout);
        app.quit();
    });
    // Requests from the engine: a button pressed on the user's behalf.
    QSocketNotifier requests(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&requests, &QSocketNotifier::activated, [&] {
        std::string line;
        if (!ReadLine(line)) {
            // The engine is gone: nobody waits for an answer any more.
            requests.setEnabled(false);
            app.exit(1);
            return;
        }
        if (line.rfind("press ", 0) == 0)
            dialog.Press(std::atoi(line.c_str() + 6));
    });
    // The engine waits for as long as the user takes, but only while the
    // alert says now and then that it is still there.
    QTimer alive;
    QObject::connect(&alive, &QTimer::timeout, [] { Say("alive\n"); });
    alive.start(500);
    dialog.Start();
    return app.exec();
}
