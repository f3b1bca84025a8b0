// The main window with 1,000 applications: rebuilding the tree, and Apply
// (the application's defaults stored, the rules file written whole and
// flushed, the update list published, the tree rebuilt), next to the same
// tree rebuilt with the default rules alone. A log view filled from 30 days
// of logs, the first time and again with nothing changed. The window's
// start with 5,000 programs that exist on disk, next to looking up the icon
// of each (what the start did before icons came when drawn). 2,000 alert
// answers read together, next to the same answers stored one by one. The
// add-application window's Browse listing /usr/bin, next to the same with
// the desktop's icon provider.
#include "bench/LogFixture.h"
#include "gui/ProgramIcon.h"
#include "gui/ProgramIconDelegate.h"
#include "os/Files.h"
#include "panel/control/MessageChannel.h"
#include "panel/core/PanelConstants.h"
#include "panel/core/PanelCore.h"
#include "panel/core/ProcessList.h"
#include "panel/dialogs/ApplicationWizard.h"
#include "panel/widgets/PlainFileIcons.h"
#include "panel/windows/LogView.h"
#include "panel/windows/MainForm.h"
#include "panel/windows/NavigationTree.h"
#include "protocol/Registry.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QRadioButton>
#include <QTreeWidget>

#include <benchmark/benchmark.h>
#include <unistd.h>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

using panel::ApplicationWizard;
using panel::LogView;
using panel::MainForm;
using panel::MessageChannel;
using panel::NavigationTree;
using panel::PlainFileIcons;

namespace {

using protocol::registry::RootKey;

std::string RulesWith(int applications, const std::string& folder = "/usr/bin/")
{
    std::string text = "<APPLICATIONS>";
    for (int i = 0; i < applications; ++i) {
        const std::string name = "PROGRAM" + std::to_string(i);
        const char* defaults[][2] = {{"PERMIT", "PERMIT"}, {"DENY", "DENY"}, {"ASK", "PERMIT"}};
        text += "<APPLICATION><EXENAME>" + name + "</EXENAME><DESCRIPTION>" + name + " DESCRIPTION</DESCRIPTION>"
                "<APPPATH>" + folder + name + "</APPPATH><ISSERVICE>0</ISSERVICE><INDEF>" + defaults[i % 3][0]
            + "</INDEF><OUTDEF>" + defaults[i % 3][1] + "</OUTDEF><RULES><RULE><RULENAME>web</RULENAME>"
              "<DIRECTION>OUTGOING</DIRECTION><PERMISSION>PERMIT</PERMISSION><STATE>1</STATE><ENABLE>1</ENABLE><PORTS>"
              "<PORT><NUMBER>80</NUMBER></PORT></PORTS></RULE></RULES></APPLICATION>";
    }
    return text + "<APPLICATION><EXENAME>ANY</EXENAME><DESCRIPTION>SYSTEM SETTINGS</DESCRIPTION><ISSERVICE>0</ISSERVICE>"
                  "<INDEF>ASK</INDEF><OUTDEF>PERMIT</OUTDEF></APPLICATION></APPLICATIONS>\n";
}

// A private settings store and a window loaded from a rules file.
struct Window {
    panel::PanelCore core;
    std::unique_ptr<MainForm> form;

    std::string root;

    // programsOnDisk: every application's path is a file (made here), as
    // they are on a user's machine, so that looking its icon up costs what it does there.
    explicit Window(int applications, const std::string& logs = {}, bool programsOnDisk = false, bool load = true)
    {
        char pattern[] = "/tmp/zel-window-bench-XXXXXX";
        root = ::mkdtemp(pattern);
        ::setenv("ZEL_REGISTRY_ROOT", (root + "/registry").c_str(), 1);
        ::setenv("ZEL_RUNTIME_DIR", (root + "/runtime").c_str(), 1);
        os::MakeDirectories(root + "/logs");
        os::MakeDirectories(root + "/bin");
        if (programsOnDisk) {
            for (int i = 0; i < applications; ++i)
                os::WriteFileAtomically(root + "/bin/PROGRAM" + std::to_string(i), "#!/bin/sh\n", 0755, false);
            // A desktop's worth of desktop entries: 300, some of them for these programs.
            os::MakeDirectories(root + "/data/applications");
            for (int i = 0; i < 300; ++i)
                os::WriteFileAtomically(root + "/data/applications/program" + std::to_string(i) + ".desktop",
                                              "[Desktop Entry]\nType=Application\nName=Program " + std::to_string(i)
                                                  + "\nExec=" + root + "/bin/PROGRAM" + std::to_string(i * 16)
                                                  + " %U\nIcon=utilities-terminal\n",
                                              0644, false);
            ::setenv("XDG_DATA_HOME", (root + "/data").c_str(), 1);
        }
        os::WriteFileAtomically(root + "/Rules.xml", RulesWith(applications, root + "/bin/"));
        const auto set = [](const char* name, const std::string& text) {
            protocol::registry::SetString(RootKey::LocalMachine, protocol::registry::kSettingsKey, name, text);
        };
        set("RulesFile", root + "/Rules.xml");
        set("LogFilesPath", logs.empty() ? root + "/logs" : logs);
        os::WriteFileAtomically(root + "/VrnPorts.txt", bench_support::kPortsText);
        set("VRNFolder", root + "/");
        set("ErrLogs", root + "/logs");
        set("LogFileCount", "30");
        set("SecurityStatus", "1");
        set("SecurityMode", "Normal");
        if (load)
            Start();
    }
    ~Window() { std::system(("rm -rf '" + root + "'").c_str()); }

    // The start as the program makes it; shown: up to the window drawn.
    void Start(bool shown = false)
    {
        form = std::make_unique<MainForm>(core);
        form->Load();
        if (!shown)
            return;
        form->show();
        QCoreApplication::processEvents();
        form->repaint();
    }
    NavigationTree* Tree() const { return form->findChild<NavigationTree*>(); }
    void LoadTree() const
    {
        Tree()->Load(core.Rules().Document(), core.GeneralDefault(rules::Direction::kIncoming),
                     core.GeneralDefault(rules::Direction::kOutgoing));
    }
    LogView* Log() const { return form->findChild<LogView*>(); }
    LogView::Source LogSource() const
    {
        const panel::PanelSettings& settings = core.Settings();
        return {settings.LogFilePath, settings.VRNFolder + panel::kPortsFileName, core.ServiceManager(), false};
    }
    void StoreAnswers(const std::vector<panel::AlertAnswer>& answers) const
    {
        emit form->findChild<MessageChannel*>()->Answers(answers);
    }
};

void BM_LoadTreeViewDefaultRules(benchmark::State& bench)
{
    Window window(0);
    for (auto _ : bench)
        window.LoadTree();
}
BENCHMARK(BM_LoadTreeViewDefaultRules)->Unit(benchmark::kMillisecond);

void BM_LoadTreeView1000(benchmark::State& bench)
{
    Window window(1000);
    for (auto _ : bench)
        window.LoadTree();
    const auto applications = window.Tree()->findItems("Applications", Qt::MatchExactly);
    if (applications.size() != 1 || applications[0]->childCount() == 0) {
        bench.SkipWithError("no applications node");
        return;
    }
    bench.counters["nodes"] = applications[0]->child(0)->childCount();
}
BENCHMARK(BM_LoadTreeView1000)->Unit(benchmark::kMillisecond);

// The same with every program's file there and a desktop's entries: each
// node is named by its desktop entry or its file.
void BM_LoadTreeView1000OnDisk(benchmark::State& bench)
{
    Window window(1000, std::string(), true);
    for (auto _ : bench)
        window.LoadTree();
    if (window.Tree()->findItems("Program 1", Qt::MatchExactly | Qt::MatchRecursive).size() != 1)
        bench.SkipWithError("no node named by its desktop entry");
}
BENCHMARK(BM_LoadTreeView1000OnDisk)->Unit(benchmark::kMillisecond);

void BM_Apply1000(benchmark::State& bench)
{
    Window window(1000);
    const auto nodes = window.Tree()->findItems("PROGRAM500", Qt::MatchExactly | Qt::MatchRecursive);
    emit window.Tree()->itemClicked(nodes.value(0), 0);
    auto* outBlock = window.form->findChild<QRadioButton*>("OutBlock");
    auto* outAsk = window.form->findChild<QRadioButton*>("OutAsk");
    bool block = true;
    for (auto _ : bench) {
        (block ? outBlock : outAsk)->click();
        block = !block;
    }
}
BENCHMARK(BM_Apply1000)->Unit(benchmark::kMillisecond);

// A process table of 1,000 processes, none of them with an entry.
std::string FakeProcesses(const std::string& root)
{
    const std::string proc = root + "/proc";
    os::MakeDirectories(proc);
    for (int pid = 2; pid < 1002; ++pid) {
        const std::string folder = proc + "/" + std::to_string(pid);
        os::MakeDirectories(folder);
        const std::string name = "tool" + std::to_string(pid);
        os::WriteFileAtomically(folder + "/stat", std::to_string(pid) + " (" + name + ") S 1 1 1", 0644, false);
        os::WriteFileAtomically(folder + "/status", "Name:\t" + name + "\nUid:\t1000\t0\t0\t0\n", 0644, false);
        os::WriteFileAtomically(folder + "/cgroup", "0::/user.slice\n", 0644, false);
        ::symlink(("/usr/bin/" + name).c_str(), (folder + "/exe").c_str());
    }
    return proc;
}

void BM_WizardList1000(benchmark::State& bench)
{
    Window window(0);
    char pattern[] = "/tmp/zel-window-bench-XXXXXX";
    const std::string procRoot = FakeProcesses(::mkdtemp(pattern));
    for (auto _ : bench) {
        ApplicationWizard::Input input;
        input.runningPrograms = [&](bool showSystem) {
            return panel::GetWindowsProcess("\n", true, showSystem, procRoot, true);
        };
        input.hasEntry = [&](const std::string& name, const std::string& path) { return window.core.Rules().Document().FindFor(name, path) != nullptr; };
        ApplicationWizard wizard(std::move(input), window.form.get());
        benchmark::DoNotOptimize(wizard.findChild<QTreeWidget*>("lvw")->topLevelItemCount());
    }
}
BENCHMARK(BM_WizardList1000)->Unit(benchmark::kMillisecond);

// Each time a new window, so that every file is read and parsed again.
void BM_ShowLogView30Days(benchmark::State& bench)
{
    for (auto _ : bench) {
        bench.PauseTiming();
        auto window = std::make_unique<Window>(0, bench_support::LogFolder());
        bench.ResumeTiming();
        window->Log()->Open("Log2", window->LogSource());
        bench.PauseTiming();
        bench.counters["rows"] = window->Log()->topLevelItemCount();
        window.reset();
        bench.ResumeTiming();
    }
}
BENCHMARK(BM_ShowLogView30Days)->Unit(benchmark::kMillisecond);

void BM_RefreshUnchangedLogViewWindow(benchmark::State& bench)
{
    Window window(0, bench_support::LogFolder());
    window.Log()->Open("Log2", window.LogSource());
    for (auto _ : bench)
        window.Log()->Refresh(window.LogSource());
}
BENCHMARK(BM_RefreshUnchangedLogViewWindow)->Unit(benchmark::kMillisecond);

// A search typed into the shown view (25,000 rows): the rows that match,
// in the list. Two programs in turn, so that each search changes the list.
void BM_SearchLogViewWindow(benchmark::State& bench)
{
    Window window(0, bench_support::LogFolder());
    window.Log()->Open("Log2", window.LogSource());
    int turn = 0;
    for (auto _ : bench) {
        window.Log()->SetFilter({"", ++turn % 2 ? "program7" : "program8"});
        bench.counters["rows"] = window.Log()->topLevelItemCount();
    }
}
BENCHMARK(BM_SearchLogViewWindow)->Unit(benchmark::kMillisecond);

// The search emptied again: all 25,000 rows back in the list.
void BM_ClearLogSearchWindow(benchmark::State& bench)
{
    Window window(0, bench_support::LogFolder());
    window.Log()->Open("Log2", window.LogSource());
    for (auto _ : bench) {
        bench.PauseTiming();
        window.Log()->SetFilter({"", "program7"});
        bench.ResumeTiming();
        window.Log()->SetFilter({});
        bench.counters["rows"] = window.Log()->topLevelItemCount();
    }
}
BENCHMARK(BM_ClearLogSearchWindow)->Unit(benchmark::kMillisecond);

void BM_StartWindow5000(benchmark::State& bench)
{
    for (auto _ : bench) {
        bench.PauseTiming();
        auto window = std::make_unique<Window>(5000, std::string(), true, false);
        const int before = gui::ProgramIconDelegate::LookUps();
        bench.ResumeTiming();
        window->Start(true);
        bench.PauseTiming();
        bench.counters["icons looked up"] = gui::ProgramIconDelegate::LookUps() - before;
        window.reset();
        bench.ResumeTiming();
    }
}
BENCHMARK(BM_StartWindow5000)->Unit(benchmark::kMillisecond)->Iterations(3);

// The baseline: one icon look-up for each of the 5,000 programs.
void BM_EveryProgramIcon5000(benchmark::State& bench)
{
    Window window(5000, std::string(), true, false);
    for (auto _ : bench)
        for (int i = 0; i < 5000; ++i)
            benchmark::DoNotOptimize(
                gui::ExecutablePixmap(QString::fromStdString(window.root + "/bin/PROGRAM" + std::to_string(i)), 16));
}
BENCHMARK(BM_EveryProgramIcon5000)->Unit(benchmark::kMillisecond)->Iterations(1);

// Answers of one program: its outgoing default each time.
std::vector<panel::AlertAnswer> Answers(int count)
{
    std::vector<panel::AlertAnswer> answers;
    for (int i = 0; i < count; ++i)
        answers.push_back({3 + i % 2, static_cast<uint32_t>(::getpid()), "/usr/bin/PROGRAM500", {}});
    return answers;
}

void BM_Answers2000Together(benchmark::State& bench)
{
    Window window(1000);
    const auto answers = Answers(2000);
    for (auto _ : bench)
        window.StoreAnswers(answers);
}
BENCHMARK(BM_Answers2000Together)->Unit(benchmark::kMillisecond);

// The baseline: each answer stored, saved and shown on its own, as every
// answer was before (200 of them: 2,000 take a minute and more).
void BM_Answers200OneByOne(benchmark::State& bench)
{
    Window window(1000);
    const auto answers = Answers(200);
    for (auto _ : bench)
        for (const panel::AlertAnswer& answer : answers)
            window.StoreAnswers({answer});
}
BENCHMARK(BM_Answers200OneByOne)->Unit(benchmark::kMillisecond)->Iterations(1);

// Browse in the add-application window on /usr/bin (the file dialog as the
// wizard makes it): from its showing until the folder's listing is complete,
// with icons by kind (the panel's) and, as the baseline, the desktop's
// provider, which reads each file without a suffix to find its type.
double BrowseUsrBinMs(bool plainIcons)
{
    PlainFileIcons icons;
    QFileDialog dialog(nullptr, "Select an application", "/");
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setFilter(QDir::AllDirs | QDir::Executable | QDir::Files | QDir::NoDotAndDotDot);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    if (plainIcons)
        dialog.setIconProvider(&icons);
    auto* model = dialog.findChild<QFileSystemModel*>();
    bool loaded = false;
    QObject::connect(model, &QFileSystemModel::directoryLoaded, [&](const QString& path) {
        loaded = loaded || path == "/usr/bin";
    });
    dialog.show();
    QElapsedTimer clock;
    clock.start();
    dialog.setDirectory("/usr/bin");
    while (!loaded && clock.elapsed() < 120000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    // The rows drawn: what the user waits for.
    QCoreApplication::processEvents();
    return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

void BM_BrowseUsrBin(benchmark::State& bench)
{
    for (auto _ : bench)
        bench.SetIterationTime(BrowseUsrBinMs(true) / 1000.0);
}
BENCHMARK(BM_BrowseUsrBin)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

void BM_BrowseUsrBinContentIcons(benchmark::State& bench)
{
    for (auto _ : bench)
        bench.SetIterationTime(BrowseUsrBinMs(false) / 1000.0);
}
BENCHMARK(BM_BrowseUsrBinContentIcons)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);

}  // namespace

int main(int argc, char** argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
