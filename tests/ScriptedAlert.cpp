// A stand-in for the alert program, so that engine tests run without a
// display. It reads each question as the real program does, appends what it
// was shown to $ZEL_TEST_ALERT_RECORD, and then does what its script says.
// The script is the peer text when that starts with "script:", else
// $ZEL_TEST_ALERT_SCRIPT:
//   answer=N,ticked=T           answer at once
//   ...,timedout=1              the answer says the time ran out
//   ...,host=1                  the answer applies to the named host only
//   ...,away=1                  the answer says the away setting gave it
//   ...,for=LENGTH,to=SCOPE     the answer's length and scope (once, process,
//                               timed, always; peerport, host, port, any)
//   wait                        answer only when told to press a button
//   cue=PATH                    answer once the file PATH exists: "1" Allow, else Block
//                               (or when told to press a button); a question its
//                               engine withdraws is added to $ZEL_TEST_ALERT_RECORD.withdrawn
//                               (its peer), one its engine presses to the record.pressed (its port)
//   ...,after=MS                answer only after MS, as a user who thinks it over
//                               (its port added to the record.answered), unless its engine
//                               presses or withdraws it first
//   claim=PATH,...              the question that makes PATH first is answered as the
//                               rest says; every other one waits, as with cue, for its
//                               engine to press or withdraw it
//   exit | crash | kill         end without answering
//   stop                        stop itself (SIGSTOP) without answering
// Like the real program it says "alive" at once and every half second while
// a question is open; with ZEL_TEST_ALERT_START_CUE=PATH it first stays
// silent until PATH exists (PATH.started says it waits), as a program that
// starts slowly does.
//
// Started with --serve (a listening socket on descriptor 3), it serves only
// its own question by default, as an alert program that does not serve
// others would: it closes the socket at once. With ZEL_TEST_ALERT_SERVE=1 it
// serves every question that connects, each on a thread of its own, and
// leaves as the real program does once none is left.
#include "alert/RendezvousListener.h"
#include "tests/EventWait.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using alert::RendezvousListener;

constexpr int kListenerDescriptor = 3;

std::string ReadLine(int fd)
{
    std::string line;
    char c;
    while (::read(fd, &c, 1) == 1) {
        if (c == '\n')
            return line;
        line += c;
    }
    return line.empty() ? std::string("\x04") : line;
}

int Field(const std::string& script, const char* name, int fallback)
{
    const size_t at = script.find(name);
    return at == std::string::npos ? fallback : std::atoi(script.c_str() + at + std::strlen(name));
}

std::mutex g_record;
std::mutex g_turn;
std::string g_inherited;

// One question's channel: what it says goes out whole, never mixed with
// another thread's line.
class Channel {
public:
    Channel(int in, int out) : in_(in), out_(out) {}
    ~Channel()
    {
        Stop();
        if (in_ > 2)
            ::close(in_);
    }
    int In() const { return in_; }
    void Say(const std::string& line)
    {
        std::lock_guard lock(mutex_);
        if (::send(out_, line.data(), line.size(), MSG_NOSIGNAL) < 0 && errno == ENOTSOCK) {
            [[maybe_unused]] const ssize_t written = ::write(out_, line.data(), line.size());
        }
    }
    void KeepSayingAlive()
    {
        Say("alive\n");
        alive_ = std::thread([this] {
            std::unique_lock lock(stopMutex_);
            while (!stopped_.wait_for(lock, std::chrono::milliseconds(500), [this] { return stop_; }))
                Say("alive\n");
        });
    }
    void Stop()
    {
        {
            std::lock_guard lock(stopMutex_);
            stop_ = true;
        }
        stopped_.notify_all();
        if (alive_.joinable())
            alive_.join();
    }

private:
    int in_;
    int out_;
    std::mutex mutex_;
    std::mutex stopMutex_;
    std::condition_variable stopped_;
    bool stop_ = false;
    std::thread alive_;
};

void Ask(int in, int out)
{
    Channel channel(in, out);
    channel.KeepSayingAlive();
    std::map<std::string, std::string> texts;
    for (std::string line = ReadLine(in); line != "end" && line != "\x04"; line = ReadLine(in)) {
        const size_t tab = line.find('\t');
        if (tab != std::string::npos)
            texts[line.substr(0, tab)] = line.substr(tab + 1);
    }
    if (const char* record = std::getenv("ZEL_TEST_ALERT_RECORD")) {
        std::lock_guard lock(g_record);
        std::ofstream file(record, std::ios::app);
        for (const auto& [key, value] : texts)
            file << key << '\t' << value << '\n';
        file << "preload\t" << (std::getenv("LD_PRELOAD") ? "set" : "unset") << "\n";
        file << "alertpid\t" << ::getpid() << "\n";
        file << "inherited\t" << g_inherited << "\n---\n";
    }
    std::string script = std::getenv("ZEL_TEST_ALERT_SCRIPT") ? std::getenv("ZEL_TEST_ALERT_SCRIPT") : "answer=2";
    if (texts["peer"].rfind("script:", 0) == 0)
        script = texts["peer"].substr(7);
    if (script.rfind("claim=", 0) == 0) {
        const std::string claim = script.substr(6, script.find(',') - 6);
        const int made = ::open(claim.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
        if (made >= 0)
            ::close(made);
        script = made >= 0 ? script.substr(std::min(script.size(), 7 + claim.size())) : "cue=";
    }

    if (script == "stop")
        ::raise(SIGSTOP);
    if (script == "exit")
        std::_Exit(3);
    if (script == "crash")
        std::abort();
    if (script == "kill")
        ::raise(SIGKILL);
    int button = Field(script, "answer=", 2);
    int ticked = Field(script, "ticked=", 0);
    bool pressed = false;
    // One question at a time, as the real window shows them: after= counts
    // from this one's turn, which lasts until its answer is said.
    std::unique_lock turn(g_turn, std::defer_lock);
    if (script == "wait") {
        for (std::string line = ReadLine(in); line != "\x04"; line = ReadLine(in)) {
            if (line.rfind("press ", 0) == 0) {
                button = std::atoi(line.c_str() + 6);
                ticked = 0;
                break;
            }
        }
    } else if (const int afterMs = Field(script, "after=", 0); afterMs > 0 || script.rfind("cue=", 0) == 0) {
        // Until the cue (none: until pressed or withdrawn), or as a user who
        // takes afterMs to answer as the script says, unless pressed first.
        const std::string cue = afterMs > 0 ? std::string() : script.substr(4);
        auto deadline = std::chrono::steady_clock::time_point::max();
        const auto note = [](const char* ending, const std::string& what) {
            if (const char* record = std::getenv("ZEL_TEST_ALERT_RECORD")) {
                std::lock_guard lock(g_record);
                std::ofstream(std::string(record) + ending, std::ios::app) << what << '\n';
            }
        };
        for (;;) {
            if (std::ifstream file {cue}) {
                std::string text;
                std::getline(file, text);
                button = text == "1" ? 1 : 2;
                ticked = 0;
                break;
            }
            if (afterMs > 0 && !turn.owns_lock() && turn.try_lock())
                deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(afterMs);
            if (afterMs > 0 && std::chrono::steady_clock::now() >= deadline) {
                note(".answered", texts["port"]);
                break;
            }
            pollfd closed {in, POLLIN, 0};
            if (::poll(&closed, 1, 20) > 0) {
                const std::string line = ReadLine(in);
                if (line == "\x04") {
                    note(".withdrawn", texts["peer"]);
                    return;
                }
                if (line.rfind("press ", 0) == 0) {
                    button = std::atoi(line.c_str() + 6);
                    ticked = 0;
                    pressed = true;
                    note(".pressed", texts["port"]);
                    break;
                }
            }
        }
    }
    channel.Stop();
    const auto word = [&script](const char* name) {
        const size_t at = script.find(name);
        return at == std::string::npos ? std::string()
                                       : script.substr(at + std::strlen(name), script.find(',', at) - at - std::strlen(name));
    };
    if (!pressed && !word("for=").empty()) {
        channel.Say("answer " + std::to_string(button) + " 0 for=" + word("for=") + " to=" + word("to=") + "\n");
        return;
    }
    channel.Say("answer " + std::to_string(button) + " " + std::to_string(ticked)
                + (Field(script, "timedout=", 0) ? " timeout"
                   : Field(script, "host=", 0)   ? " host"
                   : Field(script, "away=", 0)   ? " away"
                                                 : "")
                + "\n");
}

// The descriptors it was started with, besides its channel on 0 and 1 and
// the listening socket it was given to serve with.
std::string Inherited(bool listening)
{
    std::string inherited;
    if (DIR* fds = ::opendir("/proc/self/fd")) {
        const int own = ::dirfd(fds);
        while (const dirent* entry = ::readdir(fds)) {
            const int fd = std::atoi(entry->d_name);
            if (entry->d_name[0] != '.' && fd > 2 && fd != own && !(listening && fd == kListenerDescriptor))
                inherited += std::to_string(fd) + " ";
        }
        ::closedir(fds);
    }
    return inherited;
}

// Every question that connects, each on a thread, until none is left.
[[noreturn]] void Serve(RendezvousListener& listener)
{
    std::atomic<int> open {1};
    std::thread([&open] {
        Ask(STDIN_FILENO, STDOUT_FILENO);
        --open;
    }).detach();
    const auto start = [&open](int fd) {
        ++open;
        std::thread([&open, fd] {
            Ask(fd, fd);
            --open;
        }).detach();
    };
    for (;;) {
        pollfd waiting {listener.Descriptor(), POLLIN, 0};
        ::poll(&waiting, 1, 50);
        for (int fd; (fd = listener.Accept()) >= 0;)
            start(fd);
        if (open.load() > 0)
            continue;
        std::vector<int> late;
        const RendezvousListener::Retire retire = listener.TryRetire(late);
        for (const int fd : late)
            start(fd);
        if (retire == RendezvousListener::Retire::kDone)
            std::_Exit(0);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    const bool listening = argc >= 4 && std::strcmp(argv[1], "--serve") == 0;
    g_inherited = Inherited(listening);
    if (const char* cue = std::getenv("ZEL_TEST_ALERT_START_CUE")) {
        std::ofstream(std::string(cue) + ".started");
        const std::string path = cue;
        testing_support::WaitForFile(path.substr(0, path.rfind('/')), [&path] { return ::access(path.c_str(), F_OK) == 0; },
                                     std::chrono::seconds(10));
    }
    const char* serve = std::getenv("ZEL_TEST_ALERT_SERVE");
    if (listening && serve && std::strcmp(serve, "1") == 0 && RendezvousListener::Detach()) {
        RendezvousListener listener(kListenerDescriptor, argv[2], argv[3]);
        Serve(listener);
    }
    if (listening)
        ::close(kListenerDescriptor);
    Ask(STDIN_FILENO, STDOUT_FILENO);
    return 0;
}
