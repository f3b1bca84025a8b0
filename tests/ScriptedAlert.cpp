// A stand-in for the alert program, so that engine tests run without a
// display. It reads the alert as the real program does, appends what it was
// shown to $ZEL_TEST_ALERT_RECORD, and then does what its script says. The
// script is the peer text when that starts with "script:", else
// $ZEL_TEST_ALERT_SCRIPT:
//   answer=N,ticked=T,delay=MS  answer after a pause
//   wait                        answer only when told to press a button
//   exit | crash | kill         end without answering
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
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

}  // namespace

int main()
{
    std::map<std::string, std::string> texts;
    for (std::string line = ReadLine(); line != "end" && line != "\x04"; line = ReadLine()) {
        const size_t tab = line.find('\t');
        if (tab != std::string::npos)
            texts[line.substr(0, tab)] = line.substr(tab + 1);
    }
    if (const char* record = std::getenv("ZEL_TEST_ALERT_RECORD")) {
        std::ofstream out(record, std::ios::app);
        for (const auto& [key, value] : texts)
            out << key << '\t' << value << '\n';
        out << "preload\t" << (std::getenv("LD_PRELOAD") ? "set" : "unset") << "\n---\n";
    }
    std::string script = std::getenv("ZEL_TEST_ALERT_SCRIPT") ? std::getenv("ZEL_TEST_ALERT_SCRIPT") : "answer=2";
    if (texts["peer"].rfind("script:", 0) == 0)
        script = texts["peer"].substr(7);

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
    std::printf("answer %d %d\n", button, ticked);
    std::fflush(stdout);
    return 0;
}
