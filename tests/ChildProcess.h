#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace testing_support {

// A program started by a test, with its standard output read line by line.
// Every wait is bounded; the destructor ends and reaps the program, and ends
// whatever it started (it runs in a process group of its own).
class ChildProcess {
public:
    // extraEnv adds to (or, with an empty value, removes from) the test's environment.
    ChildProcess(const std::vector<std::string>& argv, const std::map<std::string, std::string>& extraEnv = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t Pid() const { return pid_; }
    std::optional<std::string> ReadLine(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Whether ReadLine has a line to give at once (its output, to wait on).
    bool LineReady();
    int Output() const { return output_; }
    // The exit status, or -1 when it did not end in time (or was killed).
    int Wait(std::chrono::milliseconds timeout = std::chrono::seconds(20));
    void Kill();

private:
    pid_t pid_ = -1;
    int output_ = -1;
    std::string pending_;
    bool reaped_ = false;
    int status_ = -1;
};

}  // namespace testing_support
