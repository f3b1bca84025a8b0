// zel: the control panel. One copy per user: a second one asks the running
// copy to show itself and ends.
//   zel [--quit-after-start]   (the option ends once the window is shown: for timing start-up)
// and Qt's own options (-style, -platform, ...).
#include "gui/QtOptions.h"
#include "gui/ReadableLook.h"
#include "gui/Translations.h"
#include "os/Clock.h"
#include "os/Paths.h"
#include "os/Processes.h"
#include "panel/core/ErrorLog.h"
#include "panel/core/InterceptorLibrary.h"
#include "panel/core/PanelCore.h"
#include "panel/core/SessionCoverage.h"
#include "panel/core/SingleInstance.h"
#include "panel/windows/MainForm.h"
#include "panel/windows/ProtectionView.h"
#include "protocol/Registry.h"
#include "session/SessionPreload.h"
#include "text/Translate.h"
#include "text/hooksafe/Version.h"

#include <QApplication>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <spawn.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace panel {
namespace {

int signalPipe[2] = {-1, -1};

void OnEndSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

// Ending by a signal (the session ends, the system shuts down) goes through
// the same exit path as every other end.
void QuitOnEndSignals(QApplication& app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
    // exit(), not quit(): quit() first asks the windows to close, and the main
    // window only hides when asked.
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [] { QCoreApplication::exit(0); });
    struct sigaction action {};
    action.sa_handler = OnEndSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

// A user's first start of a packaged firewall: nothing was set up for this
// user (a package installs for everyone and runs nothing as root), so the
// settings, folders and default rules are made now, as zel-setup does.
void SetUpOnFirstStart()
{
    using namespace protocol::registry;
    if (!ListValues(RootKey::LocalMachine, kSettingsKey).empty())
        return;
    const std::string self = os::processes::OwnExecutablePath();
    const std::string setup = self.substr(0, self.rfind('/') + 1) + "zel-setup";
    char* const arguments[] = {const_cast<char*>(setup.c_str()), const_cast<char*>("--quiet"), nullptr};
    pid_t child = -1;
    int status = 0;
    if (::posix_spawn(&child, setup.c_str(), nullptr, nullptr, arguments, environ) != 0
        || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        std::fprintf(stderr, "zel: %s\n",
                     text::Arg(text::Tr("zel", "the first set-up (%1) did not succeed"), {setup}).c_str());
}

// On standard error for a mistake (exit status 2), on standard output when asked for.
int Usage(std::FILE* out)
{
    std::fprintf(out, "%s\n", text::Tr("zel", "usage: zel [--quit-after-start] [Qt options]").c_str());
    if (out == stdout)
        std::printf("%s\n", text::Tr("zel", "The firewall's control panel: programs, rules, logs and live traffic. See zel(1).\n"
                                                "  --quit-after-start  end as soon as the window is shown (for timing the start)")
                                .c_str());
    return out == stdout ? 0 : 2;
}

}  // namespace
}  // namespace panel

int main(int argc, char** argv)
{
    gui::LoadTranslations("zel");
    // Answered before anything else: no display, settings or running copy needed.
    for (int i = 1; i < argc; ++i) {
        if (text::IsHelpOption(argv[i]))
            return panel::Usage(stdout);
        if (text::IsVersionOption(argv[i]))
            return text::PrintVersion("zel");
        if (std::strcmp(argv[i], "--quit-after-start") != 0) {
            const int qtOption = gui::QtOptionLength(argc, argv, i);
            if (qtOption == 0)
                return panel::Usage(stderr);
            i += qtOption - 1;
        }
    }
    // The panel, and the interceptor's process it starts, never run under
    // the hook: a desktop that names it for every program restarts the
    // panel without it first. Whether it did tells what the session covers.
    const bool startedUnderHook = session::StartedUnderHook(argv);
    bool quitAfterStart = false;
    for (int i = 1; i < argc; ++i)
        if (!std::strcmp(argv[i], "--quit-after-start"))
            quitAfterStart = true;

    const bool display = std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY") || std::getenv("QT_QPA_PLATFORM");
    panel::SingleInstance instance;
    if (!instance.Acquire()) {
        if (instance.Problem().empty()) {
            panel::RestorePreviousInstance();
            return 0;
        }
        std::fprintf(stderr, "zel: %s\n", instance.Problem().c_str());
        // Started from the menu nobody reads standard error: said in a window too.
        if (display) {
            QApplication app(argc, argv);
            gui::UseReadableLook(app);
            gui::InstallTranslations("zel");
            const os::RuntimeFolderState runtime = os::RuntimeDirState();
            QMessageBox box(QMessageBox::Critical, "Korvel Firewall",
                            QString::fromStdString(runtime.problem.empty() ? instance.Problem()
                                                                           : panel::RuntimeFolderText(runtime)));
            box.setObjectName("StartProblem");
            if (quitAfterStart)
                QTimer::singleShot(0, &box, &QMessageBox::accept);
            box.exec();
        }
        return 1;
    }
    if (!display) {
        std::fprintf(stderr, "zel: %s\n",
                     text::Tr("zel", "no display to show the control panel on (DISPLAY and WAYLAND_DISPLAY are not set).\n"
                                         "Run it in a desktop session, or with QT_QPA_PLATFORM=offscreen to run it without one.")
                         .c_str());
        return 2;
    }

    panel::SetUpOnFirstStart();
    QApplication app(argc, argv);
    gui::UseReadableLook(app);
    app.setApplicationName("Korvel Firewall");
    // Closing the window hides it to the tray: only the shutdown ends the program.
    app.setQuitOnLastWindowClosed(false);
    panel::QuitOnEndSignals(app);
    gui::InstallTranslations("zel");

    panel::PanelCore core;
    panel::MainForm form(core);
    panel::TheErrorLog().SetMessageBox([&form](const std::string& text) {
        QMessageBox::warning(&form, "Korvel Firewall", QString::fromStdString(text));
    });
    form.Load();
    if (!form.RegisterWindow()) {
        QMessageBox::critical(nullptr, "Korvel Firewall",
                              QCoreApplication::translate("zel", "The firewall cannot use its runtime folder, so programs "
                                                                 "cannot reach the control panel."));
        return 1;
    }
    form.show();
    // "Decide every program I start": the start-up files of the next login
    // follow the choice, and a session that did not start with it has its
    // services started with it from now on.
    form.Protection()->SetSession(core.Settings().VRNFolder, startedUnderHook);
    if (core.Settings().DecideEveryProgram && !quitAfterStart)
        panel::ApplySessionOption(true, core.Settings().VRNFolder, !startedUnderHook);

    panel::InterceptorLibrary interceptor(core.Settings().VRNFolder);
    form.SetInterceptor(&interceptor);
    if (!quitAfterStart) {
        interceptor.StartListen();
        form.WatchInterceptor();
        form.WatchBackstop();
    }
    // After a restart of the machine the panel starts in the tray; without a
    // tray icon to bring it back it stays shown. The stamp goes either way.
    if (core.StartHidden(os::GetTickCount()) && form.HasTray())
        form.hide();
    // Once the event loop runs: an end (a signal) while it shows ends the program.
    if (!quitAfterStart)
        QTimer::singleShot(0, &form, &panel::MainForm::OfferFirstRun);

    // Every end (the tray's shutdown, the session ending, a signal) goes
    // through the exit path once.
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &form, &panel::MainForm::EndOfProgram);
    // At the end of the session the window closes instead of hiding.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &form, &panel::MainForm::AllowClose);
    if (quitAfterStart)
        QTimer::singleShot(0, &app, [] { QCoreApplication::exit(0); });
    return app.exec();
}
