#pragma once

#include "engine/CarrierIdentity.h"
#include "protocol/TrafficLog.h"

#include <atomic>
#include <ctime>
#include <string>
#include <sys/types.h>
#include <unistd.h>

namespace engine {

// The carrier's life as its records tell it: its start and end, a forked
// child that is a carrier of its own, and a change of user that cuts it off
// its rules.
class CarrierLife {
public:
    // pid 0: the calling process, whichever it is now.
    CarrierLife(const CarrierIdentity& carrier, pid_t pid) : carrier_(carrier), pid_(pid) {}
    CarrierLife(const CarrierLife&) = delete;
    CarrierLife& operator=(const CarrierLife&) = delete;

    pid_t Pid() const { return pid_ ? pid_ : ::getpid(); }

    // Logs the start unless this process logged it already (one load then).
    bool StartLogged() const { return started_.load(std::memory_order_relaxed); }
    void LogStart(protocol::TrafficLog& log, std::time_t now);
    // The end, when this process logged its start: a forked child that
    // never decided anything logged none.
    void LogEnd(protocol::TrafficLog& log, std::time_t now);
    // In a forked child: it logs its own start at its first decision.
    void Forked() { started_ = false; }

    // Before a change of user: the error log, opened while it still may be;
    // after it, told when the process can no longer read its rules.
    void PrepareForCredentialChange(std::time_t now);
    void CredentialsChanged(const std::string& rulesPath, std::time_t now);

    // A connection refused because the runtime folder cannot be used: the
    // error log is told why, and what mends it, once per program.
    void RuntimeFolderRefused(std::time_t now);

private:
    void LogEvent(protocol::TrafficLog& log, const char* tag, std::time_t now);
    // The day's error log, opened to append; -1 when no folder is set.
    static int OpenErrorLog(std::time_t now);

    const CarrierIdentity& carrier_;
    pid_t pid_;
    std::atomic<bool> started_ {false};
    std::atomic<pid_t> startedBy_ {0};
    std::atomic<bool> runtimeRefusalTold_ {false};
    // Open between PrepareForCredentialChange and CredentialsChanged.
    int errorLogFd_ = -1;
};

// The digest of the carrier's file, read (under the rules' reload lock) the
// first time an entry with a content check applies: the running image's, so
// an upgrade that replaces the file under a running program changes nothing
// for it. exePath (empty: the process's own image) and procRoot outlive it.
// A script's carrier is the script: its file's digest (none for a module or
// class run by name, so a content check there always asks).
class CarrierDigest {
public:
    CarrierDigest(const CarrierLife& life, const CarrierIdentity& carrier, const std::string& procRoot,
                  const std::string& exePath)
        : life_(life), carrier_(carrier), procRoot_(procRoot), exePath_(exePath)
    {
    }
    // ProgramIdentity's digest callback; context: a CarrierDigest.
    static const std::string& Of(void* context);

private:
    const CarrierLife& life_;
    const CarrierIdentity& carrier_;
    const std::string& procRoot_;
    const std::string& exePath_;
    std::string digest_;
};

}  // namespace engine
