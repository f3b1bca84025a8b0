#pragma once

#include "protocol/Registry.h"

#include <ctime>
#include <optional>
#include <string_view>

// The firewall's mode: what becomes of a connection the rules would ask
// about (settings::kFirewallMode, settings::kLearnUntil). Only that: rules,
// Block All and services decide as they do in every mode.
namespace protocol::mode {

enum class Mode { kAsk, kQuietAllow, kQuietBlock, kLearn };

// The setting's word: "ask", "quiet-allow", "quiet-block", "learn".
std::string_view Word(Mode mode);
// nullopt for anything but one of the words (blanks around it allowed).
std::optional<Mode> Parse(std::string_view word);

struct State {
    Mode mode = Mode::kAsk;
    std::time_t learnUntil = 0; // the learning mode's end, seconds since 1970
};

// From the settings; a mode that is missing or does not read is kAsk, a
// learning mode without a readable end ends at once.
State Read();

// The same, read again and again (the engine, at each question): while the
// values stay the same, a read costs a look at their files, no more.
// Thread-safe.
class Reader {
public:
    Reader();
    State Read() const;
    // Held across fork(), as registry::Value's.
    void LockForFork() const;
    void UnlockAfterFork() const;

private:
    registry::Value mode_;
    registry::Value until_;
};
// Both values, the end first, so that a reader between them never sees a
// learning mode with an end that is not meant; false when not written.
bool Write(const State& state);

// The mode in force at now: learning past its end, or with an end further
// than settings::kMaxLearnDays away, is kAsk.
Mode Effective(const State& state, std::time_t now);
// The mode is learning but no longer in force: the panel switches the
// setting back to ask and tells the user once.
bool LearningOver(const State& state, std::time_t now);

}  // namespace protocol::mode
