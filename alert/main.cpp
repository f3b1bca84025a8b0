// zel-alert: shows the connection alerts of the rule engines. An engine
// writes a question's texts on its channel ("key<TAB>value" lines closed by
// "end") and may later write "press 1" or "press 2"; the answer goes back as
// "answer BUTTON TICKED", followed by " host" when the answer applies to the
// named host only, or " timeout" when nobody gave it. Meanwhile the program
// says "alive" every half second, and "shown" once the question is on screen.
//
//   zel-alert                          one question, on standard input and output
//   zel-alert --serve SOCKET LOCK      that one, then every question that connects
//                                      to SOCKET (listening on descriptor 3), until
//                                      none is left
#include "AlertDialog.h"
#include "AlertServer.h"
#include "RendezvousListener.h"
#include "gui/Art.h"
#include "platform/SessionPreload.h"

#include <QApplication>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sys/resource.h>
#include <unistd.h>

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

}  // namespace

int main(int argc, char** argv)
{
    platform::session::StartedUnderHook(argv); // never under the hook: restarted without it
    const bool serveAsked = argc >= 4 && std::strcmp(argv[1], "--serve") == 0;
    // Without a display Qt would abort; end at once so the engines deny.
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") && !std::getenv("QT_QPA_PLATFORM")) {
        std::fprintf(stderr, "zel-alert: no display to show the alert on\n");
        return 2;
    }
    // An engine that went away must not end the questions of the others.
    std::signal(SIGPIPE, SIG_IGN);
    bool serve = serveAsked && RendezvousListener::Detach();
    if (serveAsked && !serve)
        ::close(kListenerDescriptor); // this question only: the next one starts its own
    AllowManyDescriptors();

    QApplication app(argc, argv);
    app.setWindowIcon(art::AppIcon());
    app.setQuitOnLastWindowClosed(false);
    AlertDialog dialog;
    AlertServer server(dialog);
    QObject::connect(&server, &AlertServer::Finished, &app, &QCoreApplication::quit);
    server.AddChannel(STDIN_FILENO, STDOUT_FILENO);
    if (serve)
        server.Serve(std::make_unique<RendezvousListener>(kListenerDescriptor, argv[2], argv[3]));
    return app.exec();
}
