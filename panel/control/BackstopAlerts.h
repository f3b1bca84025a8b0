#pragma once

#include "engine/AlertLauncher.h"
#include "panel/core/BackstopNotice.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <string>
#include <thread>

class QObject;

namespace panel {

// The questions the kernel backstop raises (a program the hook is not in
// was refused because the rules say ASK), each asked in an alert of its own
// (the alert program, as for a hooked program's connection) from a thread of
// its own, so that the window stays responsive. The answer comes back on
// the thread of the object given. The same question (program, peer, port)
// is not asked again while it is open, and only a few are open at once (the
// backstop asks again later).
class BackstopAlerts {
public:
    static constexpr size_t kMaxOpen = 4;
    using Answered = std::function<void(const panel::BackstopNotice& notice, const engine::AlertResult& result)>;

    BackstopAlerts(QObject* receiver, Answered answered) : receiver_(receiver), answered_(std::move(answered)) {}
    // Open alerts are closed (their answers not stored) and waited for.
    ~BackstopAlerts();
    BackstopAlerts(const BackstopAlerts&) = delete;
    BackstopAlerts& operator=(const BackstopAlerts&) = delete;

    // False when not asked: the same question is open, or too many are.
    bool Ask(const panel::BackstopNotice& notice, const std::string& alertProgram);
    size_t Open() const { return open_.size(); }

    // What the alert shows for a notice.
    static engine::AlertTexts TextsFor(const panel::BackstopNotice& notice);

private:
    struct Question {
        uint64_t id;
        std::string key;
        std::thread thread;
    };
    void Finished(uint64_t id);

    QObject* receiver_; // outlives this
    Answered answered_;
    std::atomic<bool> closing_ {false};
    std::list<Question> open_; // on the receiver's thread only
    uint64_t nextId_ = 1;
};

}  // namespace panel
