// zel-alert: shows the connection alerts of the rule engines. An engine
// writes a question on its channel and reads the answer back, in the words
// of protocol/AlertWords.h.
//
//   zel-alert                          one question, on standard input and output
//   zel-alert --serve SOCKET LOCK      that one, then every question that connects
//                                      to SOCKET (listening on descriptor 3), until
//                                      none is left
#include "alert/AlertContent.h"
#include "alert/AlertDialog.h"
#include "alert/AlertServer.h"
#include "alert/RendezvousListener.h"
#include "gui/Art.h"
#include "gui/QtOptions.h"
#include "gui/ReadableLook.h"
#include "gui/Translations.h"
#include "protocol/AlertWords.h"
#include "session/SessionPreload.h"
#include "text/Strings.h"
#include "text/hooksafe/Version.h"

#include <QApplication>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

namespace alert {
namespace {

constexpr int kListenerDescriptor = 3;

// Every question holds a descriptor: many at once need more than the usual 1024.
void AllowManyDescriptors()
{
    rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, 8192);
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

// With no display nobody can see a question: the away setting the engine
// sent answers the one on standard input at once. False when it sent none
// (an older engine): the question fails as before.
bool AnswerWithoutDisplay()
{
    AlertContent content;
    std::string pending;
    char buffer[4096];
    for (;;) {
        const size_t end = pending.find('\n');
        if (end == std::string::npos) {
            // The engine writes the question as soon as it starts us.
            pollfd input {STDIN_FILENO, POLLIN, 0};
            if (::poll(&input, 1, 10000) <= 0)
                return false;
            const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
            if (n <= 0 || pending.size() > 65536)
                return false;
            pending.append(buffer, static_cast<size_t>(n));
            continue;
        }
        const std::string line = pending.substr(0, end);
        pending.erase(0, end + 1);
        if (line == protocol::alert_words::kEnd)
            break;
        const size_t tab = line.find('\t');
        if (tab != std::string::npos)
            content.Set(line.substr(0, tab), text::UnescapeLine(line.substr(tab + 1)));
    }
    if (content.awayButton == 0)
        return false;
    namespace words = protocol::alert_words;
    const std::string answer = std::string(words::kAnswer) + ' ' + std::to_string(content.awayButton) + " 0 "
        + std::string(words::kAway) + '\n';
    return ::write(STDOUT_FILENO, answer.data(), answer.size()) == static_cast<ssize_t>(answer.size());
}

// On standard error for a mistake (exit status 2), on standard output when asked for.
int Usage(std::FILE* out)
{
    std::fprintf(out, "usage: zel-alert [--serve SOCKET LOCK] [Qt options]\n");
    if (out == stdout)
        std::printf("Shows the firewall's connection alerts; the rule engines start it.\n");
    return out == stdout ? 0 : 2;
}

}  // namespace
}  // namespace alert

int main(int argc, char** argv)
{
    if (argc > 1 && text::IsHelpOption(argv[1]))
        return alert::Usage(stdout);
    if (argc > 1 && text::IsVersionOption(argv[1]))
        return text::PrintVersion("zel-alert");
    const bool serveAsked = argc >= 4 && std::strcmp(argv[1], "--serve") == 0;
    for (int i = serveAsked ? 4 : 1; i < argc; ++i) {
        const int qtOption = gui::QtOptionLength(argc, argv, i);
        if (qtOption == 0)
            return alert::Usage(stderr);
        i += qtOption - 1;
    }
    session::StartedUnderHook(argv); // never under the hook: restarted without it
    // Without a display Qt would abort, and nobody could see the question:
    // the away setting answers it, and the next question starts anew.
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") && !std::getenv("QT_QPA_PLATFORM")) {
        if (serveAsked)
            ::close(alert::kListenerDescriptor);
        if (alert::AnswerWithoutDisplay())
            return 0;
        std::fprintf(stderr, "zel-alert: no display to show the alert on\n");
        return 2;
    }
    // An engine that went away must not end the questions of the others.
    std::signal(SIGPIPE, SIG_IGN);
    bool serve = serveAsked && alert::RendezvousListener::Detach();
    if (serveAsked && !serve)
        ::close(alert::kListenerDescriptor); // this question only: the next one starts its own
    alert::AllowManyDescriptors();

    QApplication app(argc, argv);
    gui::UseReadableLook(app);
    gui::InstallTranslations("zel-alert");
    app.setWindowIcon(gui::art::AppIcon());
    app.setQuitOnLastWindowClosed(false);
    alert::AlertDialog dialog;
    alert::AlertServer server(dialog);
    QObject::connect(&server, &alert::AlertServer::Finished, &app, &QCoreApplication::quit);
    server.AddChannel(STDIN_FILENO, STDOUT_FILENO);
    if (serve)
        server.Serve(std::make_unique<alert::RendezvousListener>(alert::kListenerDescriptor, argv[2], argv[3]));
    return app.exec();
}
