// A stand-in for the alert program, so that engine tests run without a
// display. It reads the alert as the real program does, appends what it was
// shown to $ZEL_TEST_ALERT_RECORD, and then does what its script says. The
// script is the peer text when that starts with "script:", else
// $ZEL_TEST_ALERT_SCRIPT:
//   answer=N,ticked=T,delay=MS  answer after a pause
//   ...,timedout=1              the answer says the time ran out
//   ...,host=1                  the answer applies to the named host only
//   wait                        answer only when told to press a button
//   exit | crash | kill         end without answering
//   stop                        stop itself (SIGSTOP) without answering
// Like the real program it says "alive" every half second while it runs.
#include <csignal>
#include <dirent.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

std::string ReadLine()
{
    std::string line;
    char c;
    while (::read(STDIN_FILENO, &c, 1) == 1) {
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

std::mutex g_output;

void Say(const std::string& line)
{
    std::lock_guard lock(g_output);
    std::fputs(line.c_str(), stdout);
    std::fflush(stdout);
}

}  // namespace

int main()
{
    std::map<std::string, std::string> texts;
    for (std::string line = ReadLine(); line != "end" && line != "\x04"; line = ReadLine()) {
        const size_t tab = line.find('\t');
        if (tab != std::string::npos)
            texts[line.substr(0, tab)] = line.substr(tab + 1);
    }
    // The descriptors it was started with, besides its channel on 0 and 1.
    std::string inherited;
    if (DIR* fds = ::opendir("/proc/self/fd")) {
        const int own = ::dirfd(fds);
        while (const dirent* entry = ::readdir(fds)) {
            const int fd = std::atoi(entry->d_name);
            if (entry->d_name[0] != '.' && fd > 2 && fd != own)
                inherited += std::to_string(fd) + " ";
        }
        ::closedir(fds);
    }
    if (const char* record = std::getenv("ZEL_TEST_ALERT_RECORD")) {
        std::ofstream out(record, std::ios::app);
        for (const auto& [key, value] : texts)
            out << key << '\t' << value << '\n';
        out << "preload\t" << (std::getenv("LD_PRELOAD") ? "set" : "unset") << "\n";
        out << "inherited\t" << inherited << "\n---\n";
    }
    std::string script = std::getenv("ZEL_TEST_ALERT_SCRIPT") ? std::getenv("ZEL_TEST_ALERT_SCRIPT") : "answer=2";
    if (texts["peer"].rfind("script:", 0) == 0)
        script = texts["peer"].substr(7);

    std::thread([] {
        for (;;) {
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            Say("alive\n");
        }
    }).detach();
    if (script == "stop")
        ::raise(SIGSTOP);
    if (script == "exit")
        return 3;
    if (script == "crash")
        std::abort();
    if (script == "kill")
        ::raise(SIGKILL);
    int button = Field(script, "answer=", 2);
    int ticked = Field(script, "ticked=", 0);
    if (script == "wait") {
        for (std::string line = ReadLine(); line != "\x04"; line = ReadLine()) {
            if (line.rfind("press ", 0) == 0) {
                button = std::atoi(line.c_str() + 6);
                ticked = 0;
                break;
            }
        }
    } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(Field(script, "delay=", 0)));
    }
    Say("answer " + std::to_string(button) + " " + std::to_string(ticked)
        + (Field(script, "timedout=", 0) ? " timeout" : Field(script, "host=", 0) ? " host" : "") + "\n");
    return 0;
}
