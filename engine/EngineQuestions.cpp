// The engine asking the user: the alert's texts, the question put to the alert program
// (or the answer given for nobody at the screen), the record of an answer
// given while away, and the control panel's notice of a question.
#include "engine/Engine.h"

#include "engine/AlertLauncher.h"
#include "engine/PanelNotices.h"
#include "os/Clock.h"
#include "os/Paths.h"
#include "os/Processes.h"
#include "protocol/AwayDecisions.h"
#include "protocol/PanelMessages.h"
#include "protocol/Presence.h"
#include "protocol/SettingNames.h"
#include "protocol/Windows.h"
#include "rules/TimedAnswer.h"
#include "rules/hooksafe/Names.h"
#include "text/Strings.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace engine {

namespace {

using protocol::registry::kSettingsKey;
using protocol::registry::RootKey;

}  // namespace

void Engine::RecordAwayDecision(const Connection& connection, const char* hostName, int answer) const
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
    decision.pid = Pid();
    decision.path = carrier_.exePath;
    protocol::away::Append(protocol::away::ListPath(), decision);
}

void Engine::NotifyControlPanel(int alertCode, std::string_view firstLine) const
{
    engine::NotifyControlPanel(alertCode, Pid(), carrier_.exePath, firstLine);
}

AlertTexts Engine::PrepareAlertTexts(const Connection& connection, const char* remoteName, const char* hostName) const
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
    texts.process = DescribeAskingProcess(os::processes::kProcRoot, Pid());
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

int Engine::AskUser(const Connection& connection, const char* remoteName, const char* hostName, int withdrawFd,
                    AlertChoice& choice)
{
    choice = AlertChoice {};
    // An answer remembered for this direction, or for this host, closes the
    // alert at once, as if its button was pressed, with the box unticked: no
    // window is needed.
    int64_t heldUntil = 0;
    const auto remembered = [this, &connection, hostName, &heldUntil] {
        const int forAll = answers_.ForDirection(connection.direction);
        const int forHost = forAll != 0 || !hostName ? forAll : answers_.ForHost(hostName);
        if (forHost != 0)
            return forHost;
        // An answer for longer given to another of this process's questions.
        const int held = answers_.Held(connection.direction, connection.RulePort(), connection.address, &hostName,
                                       hostName ? 1 : 0, [this] { return Now(); }, &heldUntil);
        return held == kPermit ? 1 : held == kDeny ? 2 : 0;
    };
    if (const int answer = remembered(); answer != 0) {
        choice.reason = protocol::log_reason::kRemembered;
        choice.heldUntil = heldUntil;
        return answer == 1 ? kPermit : kDeny;
    }
    const AlertTexts texts = PrepareAlertTexts(connection, remoteName, hostName);
    // Each alert keeps its own answer and tick state: several may be open at once.
    const AlertResult result = RunAlert(texts, remembered, {}, withdrawFd);
    choice.interrupted = result.interrupted;
    choice.withdrawn = result.withdrawn;
    choice.away = result.away && result.button != 0;
    choice.ticked = result.ticked && result.button != 0;
    choice.hostOnly = choice.ticked && result.hostOnly && !texts.host.empty();
    if (result.button != 0 && !result.away && !result.timedOut) {
        choice.length = result.length;
        choice.scope = result.scope;
        choice.timedMinutes = texts.timedMinutes;
    }
    namespace why = protocol::log_reason;
    choice.reason = result.timedOut ? why::kTimeout
        : result.away               ? why::kAway
        : result.button == 0        ? why::kNoAlert
                                    : why::kAnswer;
    // Closed by an answer held meanwhile: that answer's end is this one's.
    choice.heldUntil = heldUntil;
    return result.button == 1 ? kPermit : kDeny;
}

int Engine::UserApprove(unsigned localPort, int direction, const char* remoteAddress, const char* remoteName,
                        int protocol, unsigned remotePort, int withdrawFd)
{
    const Connection connection(localPort, direction, remoteAddress, protocol, remotePort);
    remoteAddress = connection.addressText;
    if (!remoteName)
        remoteName = remoteAddress;
    EnsureFirstUse();
    // Taken before the question: an answer given while the rules changed is of the old generation.
    const uint32_t generation = CurrentGeneration();
    char name[rules::kMaxHostName + 1];
    const bool named = direction != kIncoming && remoteName != remoteAddress
        && rules::NormalizeHostName(remoteName, strnlen(remoteName, rules::kMaxHostName + 2), name, sizeof name) != 0;
    int answer = kDeny;
    const char* reason = protocol::log_reason::kService;
    if (!carrier_.isServiceCarrier) {
        const int outgoing = direction != kIncoming ? 1 : 0;
        AlertChoice choice;
        answer = AskUser(connection, remoteName, named ? name : nullptr, withdrawFd, choice);
        if (choice.interrupted) {
            // Nothing was decided: the program's call fails as interrupted.
            errno = EINTR;
            return kDeny;
        }
        if (choice.withdrawn) {
            errno = ECANCELED;
            return kDeny;
        }
        reason = choice.reason;
        if (choice.away)
            RecordAwayDecision(connection, named ? name : nullptr, answer);
        if (answer == kPermit && connection.Datagram() && outgoing)
            datagramPeers_.Add(connection, generation);
        // A datagram verdict lasts no longer than the answer it came from.
        const int64_t until = choice.length == AnswerLength::kTimed
            ? static_cast<int64_t>(Now()) + int64_t {60} * choice.timedMinutes
            : choice.heldUntil;
        if (connection.Datagram() && until != 0)
            NoteVerdictEnd(until);
        if (choice.hostOnly) {
            NotifyControlPanel(answer == kPermit ? protocol::kCodeOutgoingHostPermitted
                                                 : protocol::kCodeOutgoingHostBlocked,
                               name);
            answers_.RememberForHost(name, 2 - answer);
        } else if (choice.ticked) {
            NotifyControlPanel(1 + answer + 2 * outgoing);
            answers_.RememberForDirection(direction, 2 - answer);
        } else if (choice.length != AnswerLength::kOnce) {
            KeepScopedAnswer(choice, answer, connection, named ? name : nullptr);
        }
    }
    LogConnection(connection, answer, named ? name : nullptr, reason);
    errno = 0;
    return answer;
}

void Engine::KeepScopedAnswer(const AlertChoice& choice, int answer, const Connection& connection,
                              const char* hostName)
{
    rules::TimedAnswer scoped;
    scoped.direction = connection.Incoming() ? rules::Direction::kIncoming : rules::Direction::kOutgoing;
    scoped.permission = answer == kPermit ? rules::Permission::kPermit : rules::Permission::kDeny;
    if (choice.scope == AnswerScope::kPeerAndPort || choice.scope == AnswerScope::kPort)
        scoped.port = static_cast<int>(connection.RulePort());
    if (choice.scope == AnswerScope::kPeerAndPort || choice.scope == AnswerScope::kHost) {
        if (hostName)
            scoped.host = hostName;
        else if (choice.scope == AnswerScope::kPeerAndPort)
            scoped.address = connection.addressText;
        else
            return; // a host without a name is not offered
    }
    if (choice.length == AnswerLength::kTimed)
        scoped.until = static_cast<int64_t>(Now()) + int64_t {60} * choice.timedMinutes;
    std::optional<HeldAnswer> held = HeldAnswer::Of(scoped);
    if (!held || (scoped.port == 0 && choice.scope != AnswerScope::kHost && choice.scope != AnswerScope::kAny))
        return; // a peer that is no address, a port that is none: this connection only
    answers_.Hold(std::move(*held), choice.length == AnswerLength::kProcess);
    if (choice.length != AnswerLength::kProcess)
        NotifyControlPanel(protocol::kCodeScopedAnswer, rules::AnswerText(scoped));
}

}  // namespace engine
