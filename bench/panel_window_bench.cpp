// The main window with 1,000 applications: rebuilding the tree, and Apply
// (the application's defaults stored, the rules file written whole and
// flushed, the update list published, the tree rebuilt), next to the same
// tree rebuilt with the default rules alone. A log view filled from 30 days
// of logs, the first time and again with nothing changed.
#include "LogFixture.h"
#include "settings/PanelState.h"
#include "windows/MainForm.h"
#include "editing/CreateNewApp_Step1.h"
#include "platform/Files.h"
#include "platform/Registry.h"

#include <QApplication>
#include <QRadioButton>
#include <QTreeWidget>

#include <benchmark/benchmark.h>
#include <unistd.h>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

using platform::registry::RootKey;

std::string RulesWith(int applications)
{
    std::string text = "<APPLICATIONS>";
    for (int i = 0; i < applications; ++i) {
        const std::string name = "PROGRAM" + std::to_string(i);
        const char* defaults[][2] = {{"PERMIT", "PERMIT"}, {"DENY", "DENY"}, {"ASK", "PERMIT"}};
        text += "<APPLICATION><EXENAME>" + name + "</EXENAME><DESCRIPTION>" + name + " DESCRIPTION</DESCRIPTION>"
                "<APPPATH>/usr/bin/" + name + "</APPPATH><ISSERVICE>0</ISSERVICE><INDEF>" + defaults[i % 3][0]
            + "</INDEF><OUTDEF>" + defaults[i % 3][1] + "</OUTDEF><RULES><RULE><RULENAME>web</RULENAME>"
              "<DIRECTION>OUTGOING</DIRECTION><PERMISSION>PERMIT</PERMISSION><STATE>1</STATE><ENABLE>1</ENABLE><PORTS>"
              "<PORT><NUMBER>80</NUMBER></PORT></PORTS></RULE></RULES></APPLICATION>";
    }
    return text + "<APPLICATION><EXENAME>ANY</EXENAME><DESCRIPTION>SYSTEM SETTINGS</DESCRIPTION><ISSERVICE>0</ISSERVICE>"
                  "<INDEF>ASK</INDEF><OUTDEF>PERMIT</OUTDEF></APPLICATION></APPLICATIONS>\n";
}

// A private settings store and a window loaded from a rules file.
struct Window {
    panel::PanelState state;
    std::unique_ptr<MainForm> form;

    explicit Window(int applications, const std::string& logs = {})
    {
        char pattern[] = "/tmp/zel-window-bench-XXXXXX";
        const std::string root = ::mkdtemp(pattern);
        ::setenv("ZEL_REGISTRY_ROOT", (root + "/registry").c_str(), 1);
        ::setenv("ZEL_RUNTIME_DIR", (root + "/runtime").c_str(), 1);
        platform::MakeDirectories(root + "/logs");
        platform::WriteFileAtomically(root + "/Rules.xml", RulesWith(applications));
        const auto set = [](const char* name, const std::string& text) {
            platform::registry::SetString(RootKey::LocalMachine, platform::registry::kSettingsKey, name, text);
        };
        set("RulesFile", root + "/Rules.xml");
        set("LogFilesPath", logs.empty() ? root + "/logs" : logs);
        platform::WriteFileAtomically(root + "/VrnPorts.txt", bench_support::kPortsText);
        set("VRNFolder", root + "/");
        set("ErrLogs", root + "/logs");
        set("LogFileCount", "30");
        set("SecurityStatus", "1");
        set("SecurityMode", "Normal");
        form = std::make_unique<MainForm>(state);
        form->Form_Load();
    }
};

void BM_LoadTreeViewDefaultRules(benchmark::State& bench)
{
    Window window(0);
    for (auto _ : bench)
        window.form->LoadTreeView();
}
BENCHMARK(BM_LoadTreeViewDefaultRules)->Unit(benchmark::kMillisecond);

void BM_LoadTreeView1000(benchmark::State& bench)
{
    Window window(1000);
    for (auto _ : bench)
        window.form->LoadTreeView();
    bench.counters["nodes"] = window.form->MainTreeView->topLevelItem(1)->child(0)->childCount();
}
BENCHMARK(BM_LoadTreeView1000)->Unit(benchmark::kMillisecond);

void BM_Apply1000(benchmark::State& bench)
{
    Window window(1000);
    const auto nodes = window.form->MainTreeView->findItems("Program500 description", Qt::MatchExactly | Qt::MatchRecursive);
    window.form->MainTreeView_NodeClick(nodes.value(0));
    bool block = true;
    for (auto _ : bench) {
        (block ? window.form->OutBlock : window.form->OutAsk)->click();
        block = !block;
    }
}
BENCHMARK(BM_Apply1000)->Unit(benchmark::kMillisecond);

// A process table of 1,000 processes, none of them with an entry.
std::string FakeProcesses(const std::string& root)
{
    const std::string proc = root + "/proc";
    platform::MakeDirectories(proc);
    for (int pid = 2; pid < 1002; ++pid) {
        const std::string folder = proc + "/" + std::to_string(pid);
        platform::MakeDirectories(folder);
        const std::string name = "tool" + std::to_string(pid);
        platform::WriteFileAtomically(folder + "/stat", std::to_string(pid) + " (" + name + ") S 1 1 1", 0644, false);
        platform::WriteFileAtomically(folder + "/status", "Name:\t" + name + "\nUid:\t1000\t0\t0\t0\n", 0644, false);
        platform::WriteFileAtomically(folder + "/cgroup", "0::/user.slice\n", 0644, false);
        ::symlink(("/usr/bin/" + name).c_str(), (folder + "/exe").c_str());
    }
    return proc;
}

void BM_WizardList1000(benchmark::State& bench)
{
    Window window(0);
    char pattern[] = "/tmp/zel-window-bench-XXXXXX";
    window.state.ProcRoot = FakeProcesses(::mkdtemp(pattern));
    for (auto _ : bench) {
        CreateNewApp_Step1 wizard(*window.form, window.form.get());
        benchmark::DoNotOptimize(wizard.lvw->topLevelItemCount());
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
        window->form->FillLogView("Log2");
        bench.PauseTiming();
        bench.counters["rows"] = window->form->MainListView->topLevelItemCount();
        window.reset();
        bench.ResumeTiming();
    }
}
BENCHMARK(BM_ShowLogView30Days)->Unit(benchmark::kMillisecond);

void BM_RefreshUnchangedLogViewWindow(benchmark::State& bench)
{
    Window window(0, bench_support::LogFolder());
    window.form->FillLogView("Log2");
    for (auto _ : bench)
        window.form->FillLogView("Log2");
}
BENCHMARK(BM_RefreshUnchangedLogViewWindow)->Unit(benchmark::kMillisecond);

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
