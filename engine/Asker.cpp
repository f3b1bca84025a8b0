// Asking the user: the alert's texts, the question put to the alert program
// (or the answer remembered or held), and the answer applied: remembered,
// held, sent to the control panel, listed when given while away.
#include "engine/Asker.h"

#include "engine/AnswerMemory.h"
#include "engine/CarrierIdentity.h"
#include "engine/CarrierLife.h"
#include "engine/EncryptedDnsServices.h"
#include "engine/PanelNotices.h"
#include "os/Processes.h"
#include "protocol/AwayDecisions.h"
#include "protocol/LogFiles.h"
#include "protocol/PanelMessages.h"
#include "protocol/Registry.h"
#include "protocol/ReviewList.h"
#include "protocol/SettingNames.h"
#include "rules/TimedAnswer.h"
#include "text/Strings.h"

#include <algorithm>
#include <cstdio>

namespace engine {

namespace {

using protocol::registry::kSettingsKey;
using protocol::registry::RootKey;

// How long a quiet mode's datagram verdict is kept: a change of mode is
// seen by then.
constexpr int64_t kQuietVerdictSeconds = 60;

}  // namespace

Asker::Asker(const CarrierIdentity& carrier, const CarrierLife& life, AnswerMemory& answers,
             const std::function<std::time_t()>& now, AlertRunner runAlert)
    : carrier_(carrier), life_(life), answers_(answers), now_(now), runAlert_(runAlert)
{
}

std::time_t Asker::Now() const { return now_ ? now_() : std::time(nullptr); }

void Asker::Notify(int alertCode, std::string_view firstLine) const
{
    NotifyControlPanel(alertCode, life_.Pid(), carrier_.exePath, firstLine);
}

int Asker::Remembered(const Connection& connection, const char* hostName, int64_t* heldUntil) const
{
    const int forAll = answers_.ForDirection(connection.direction);
    const int forHost = forAll != 0 || !hostName ? forAll : answers_.ForHost(hostName);
    if (forHost != 0)
        return forHost;
    // An answer for longer given to another of this process's questions.
    const int held = answers_.Held(connection.direction, connection.RulePort(), connection.address, &hostName,
                                   hostName ? 1 : 0, [this] { return Now(); }, heldUntil);
    return held == kPermit ? 1 : held == kDeny ? 2 : 0;
}

Asker::Outcome Asker::Ask(const Connection& connection, const char* remoteName, const char* hostName, int withdrawFd)
{
    namespace why = protocol::log_reason;
    Outcome outcome;
    // An answer remembered for this direction, or for this host, closes the
    // alert at once, as if its button was pressed, with the box unticked: no
    // window is needed.
    int64_t heldUntil = 0;
    if (const int answer = Remembered(connection, hostName, &heldUntil); answer != 0) {
        outcome.answer = answer == 1 ? kPermit : kDeny;
        outcome.reason = why::kRemembered;
        outcome.until = heldUntil;
        return outcome;
    }
    if (const std::optional<Outcome> decided = DecideByMode(connection, hostName))
        return *decided;
    const AlertTexts texts = Texts(connection, remoteName, hostName);
    // Each alert keeps its own answer and tick state: several may be open at once.
    const AlertResult result = runAlert_(
        texts, [this, &connection, hostName, &heldUntil] { return Remembered(connection, hostName, &heldUntil); },
        {}, withdrawFd);
    outcome.interrupted = result.interrupted;
    outcome.withdrawn = result.withdrawn;
    if (outcome.interrupted || outcome.withdrawn)
        return outcome;
    Choice choice;
    choice.away = result.away && result.button != 0;
    choice.ticked = result.ticked && result.button != 0;
    choice.hostOnly = choice.ticked && result.hostOnly && !texts.host.empty();
    if (result.button != 0 && !result.away && !result.timedOut) {
        choice.length = result.length;
        choice.scope = result.scope;
        choice.timedMinutes = texts.timedMinutes;
    }
    outcome.reason = result.timedOut ? why::kTimeout
        : result.away                ? why::kAway
        : result.button == 0         ? why::kNoAlert
                                     : why::kAnswer;
    const int answer = result.button == 1 ? kPermit : kDeny;
    outcome.answer = answer;
    // A verdict lasts no longer than the answer it came from; closed by an
    // answer held meanwhile: that answer's end is this one's.
    outcome.until = choice.length == AnswerLength::kTimed
        ? static_cast<int64_t>(Now()) + int64_t {60} * choice.timedMinutes
        : heldUntil;
    if (choice.away)
        RecordAway(connection, hostName, answer);
    if (choice.hostOnly) {
        Notify(answer == kPermit ? protocol::kCodeOutgoingHostPermitted : protocol::kCodeOutgoingHostBlocked,
               hostName);
        answers_.RememberForHost(hostName, 2 - answer);
    } else if (choice.ticked) {
        Notify(1 + answer + 2 * (connection.Incoming() ? 0 : 1));
        answers_.RememberForDirection(connection.direction, 2 - answer);
    } else if (choice.length != AnswerLength::kOnce) {
        KeepScoped(choice, answer, connection, hostName);
    }
    return outcome;
}

std::optional<Asker::Outcome> Asker::DecideByMode(const Connection& connection, const char* hostName)
{
    namespace mode = protocol::mode;
    namespace why = protocol::log_reason;
    // Looked at each question: a stat while the settings stay the same.
    const std::time_t now = Now();
    const mode::State state = mode_.Read();
    const mode::Mode decides = mode::Effective(state, now);
    if (decides == mode::Mode::kAsk)
        return std::nullopt;
    Outcome outcome;
    outcome.answer = decides == mode::Mode::kQuietBlock ? kDeny : kPermit;
    if (decides == mode::Mode::kLearn) {
        outcome.reason = why::kLearn;
        // Learnt for the peer and port until learning ends (or as long as
        // an answer may be held): later questions are answered as remembered.
        outcome.until = std::min<int64_t>(state.learnUntil, static_cast<int64_t>(now) + rules::kLongestAnswerSeconds - 60);
        const std::optional<rules::TimedAnswer> learnt
            = ScopedAnswer(AnswerScope::kPeerAndPort, kPermit, connection, hostName, outcome.until);
        std::optional<HeldAnswer> held = learnt ? HeldAnswer::Of(*learnt) : std::nullopt;
        if (held)
            answers_.Hold(std::move(*held), true);
    } else {
        outcome.reason = why::kQuiet;
        outcome.until = static_cast<int64_t>(now) + kQuietVerdictSeconds;
    }
    ListForReview(connection, hostName, outcome);
    return outcome;
}

void Asker::ListForReview(const Connection& connection, const char* hostName, const Outcome& outcome) const
{
    protocol::review::Item item;
    item.time = Now();
    item.mode = outcome.reason;
    item.outgoing = !connection.Incoming();
    item.protocol = connection.Datagram() ? 2 : 1;
    item.address = connection.addressText;
    item.remotePort = connection.remotePort;
    item.localPort = connection.localPort;
    item.host = hostName ? hostName : "";
    item.permitted = outcome.answer == kPermit;
    item.path = carrier_.exePath;
    const std::string peer = item.mode + (item.outgoing ? " out " : " in ") + std::to_string(item.protocol) + " "
        + std::to_string(connection.RulePort()) + " " + (hostName ? item.host : item.address)
        + (item.permitted ? " allowed" : " blocked");
    if (answers_.FirstListing(peer))
        protocol::review::Append(protocol::review::ListPath(), item);
}

void Asker::RecordAway(const Connection& connection, const char* hostName, int answer) const
{
    protocol::away::Decision decision;
    decision.time = Now();
    decision.outgoing = !connection.Incoming();
    decision.protocol = connection.Datagram() ? 2 : 1;
    decision.address = connection.addressText;
    decision.remotePort = connection.remotePort;
    decision.localPort = connection.localPort;
    decision.host = hostName ? hostName : "";
    decision.permitted = answer == kPermit;
    decision.pid = life_.Pid();
    decision.path = carrier_.exePath;
    protocol::away::Append(protocol::away::ListPath(), decision);
}

AlertTexts Asker::Texts(const Connection& connection, const char* remoteName, const char* hostName) const
{
    const bool outgoing = !connection.Incoming();
    const char* protocolText = connection.Datagram() ? "UDP" : "TCP";
    char action[128];
    std::snprintf(action, sizeof action,
                  outgoing ? "create %s outgoing connection to" : "accept %s incoming connection from", protocolText);
    AlertTexts texts;
    texts.outgoing = outgoing;
    texts.checkBox = "Apply my decision to all " + carrier_.description
        + (outgoing ? " outgoing traffic" : " incoming traffic");
    texts.message = carrier_.description + " created by " + carrier_.company + " is trying to " + action + " " + remoteName
        + " through port:" + std::to_string(static_cast<int>(connection.RulePort()));
    texts.peer = remoteName;
    texts.port = static_cast<int>(connection.RulePort());
    if (outgoing && hostName)
        texts.host = hostName;
    texts.caption = carrier_.description + " - " + protocolText + " Connection Alert!";
    texts.program = carrier_.description;
    texts.company = carrier_.company;
    texts.protocol = protocolText;
    texts.icon = carrier_.icon;
    // Who asks, for the alert's details: read now, as rarely as alerts show.
    texts.path = carrier_.exePath;
    texts.process = DescribeAskingProcess(os::processes::kProcRoot, life_.Pid());
    texts.encryptedDns = EncryptedDnsServices::Shipped().Serves(connection, hostName);
    // Read at each alert, which is rare, rather than at every decision.
    const protocol::registry::Value timeout(RootKey::LocalMachine, kSettingsKey, protocol::settings::kAlertTimeout);
    const int64_t seconds = text::ParseDecimal(timeout.Read().value_or(""));
    if (seconds >= 1 && seconds <= protocol::settings::kMaxAlertTimeout)
        texts.timeoutSeconds = static_cast<int>(seconds);
    const protocol::registry::Value timedMinutes(RootKey::LocalMachine, kSettingsKey,
                                                 protocol::settings::kTimedAnswerMinutes);
    const int64_t minutes = text::ParseDecimal(timedMinutes.Read().value_or(""));
    texts.timedMinutes = minutes >= 1 && minutes <= rules::kMaxTimedAnswerMinutes
        ? static_cast<int>(minutes)
        : protocol::settings::kDefaultTimedAnswerMinutes;
    const protocol::registry::Value awayAnswer(RootKey::LocalMachine, kSettingsKey, protocol::settings::kAwayAnswer);
    texts.awayButton = text::TrimBlanks(awayAnswer.Read().value_or("")) == "1" ? 1 : 2;
    const protocol::registry::Value awayTimeout(RootKey::LocalMachine, kSettingsKey, protocol::settings::kAwayTimeout);
    const std::optional<std::string> awayText = awayTimeout.Read();
    const int64_t awaySeconds = text::ParseDecimal(awayText.value_or(""));
    texts.awaySeconds = awayText && !text::TrimBlanks(*awayText).empty() && awaySeconds >= 0
            && awaySeconds <= protocol::settings::kMaxAlertTimeout
        ? static_cast<int>(awaySeconds)
        : protocol::settings::kDefaultAwayTimeout;
    return texts;
}

std::optional<rules::TimedAnswer> Asker::ScopedAnswer(AnswerScope scope, int answer, const Connection& connection,
                                                     const char* hostName, int64_t until)
{
    rules::TimedAnswer scoped;
    scoped.direction = connection.Incoming() ? rules::Direction::kIncoming : rules::Direction::kOutgoing;
    scoped.permission = answer == kPermit ? rules::Permission::kPermit : rules::Permission::kDeny;
    if (scope == AnswerScope::kPeerAndPort || scope == AnswerScope::kPort)
        scoped.port = static_cast<int>(connection.RulePort());
    if (scope == AnswerScope::kPeerAndPort || scope == AnswerScope::kHost) {
        if (hostName)
            scoped.host = hostName;
        else if (scope == AnswerScope::kPeerAndPort)
            scoped.address = connection.addressText;
        else
            return std::nullopt; // a host without a name is not offered
    }
    scoped.until = until;
    if (scoped.port == 0 && scope != AnswerScope::kHost && scope != AnswerScope::kAny)
        return std::nullopt; // a port that is none: this connection only
    return scoped;
}

void Asker::KeepScoped(const Choice& choice, int answer, const Connection& connection, const char* hostName)
{
    const int64_t until
        = choice.length == AnswerLength::kTimed ? static_cast<int64_t>(Now()) + int64_t {60} * choice.timedMinutes : 0;
    const std::optional<rules::TimedAnswer> scoped = ScopedAnswer(choice.scope, answer, connection, hostName, until);
    std::optional<HeldAnswer> held = scoped ? HeldAnswer::Of(*scoped) : std::nullopt;
    if (!held)
        return; // a peer that is no address: this connection only
    answers_.Hold(std::move(*held), choice.length == AnswerLength::kProcess);
    if (choice.length != AnswerLength::kProcess)
        Notify(protocol::kCodeScopedAnswer, rules::AnswerText(*scoped));
}

}  // namespace engine
