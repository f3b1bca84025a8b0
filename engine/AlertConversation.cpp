// The conversation with the alert program over one channel: the question
// sent, the alive and answer lines read, the presses asked for, the silence
// limits, and the wait as the program's own blocking call would behave.
#include "engine/AlertConversation.h"

#include "os/Clock.h"
#include "os/hooksafe/Retry.h"
#include "protocol/AlertWords.h"
#include "text/Strings.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <poll.h>
#include <string_view>
#include <sys/syscall.h>
#include <unistd.h>

namespace engine::launch {

namespace {

namespace words = protocol::alert_words;

// Checked more often than the window's own half-second animation step, so
// that an answer remembered by another alert closes this one promptly.
constexpr int kPressCheckMs = 100;

bool SendAll(int fd, const std::string& data)
{
    size_t done = 0;
    while (done < data.size()) {
        // MSG_NOSIGNAL: an alert program that died must not take the carrier with it.
        const ssize_t n = os::RetryOnInterrupt([&] { return ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL); });
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Whether text is " " and word.
bool IsLastWord(std::string_view text, std::string_view word)
{
    return text.size() == word.size() + 1 && text.front() == ' ' && text.ends_with(word);
}

// The place among choices of what follows prefix in text; -1 for none.
template <size_t N>
int WordAfter(std::string_view text, std::string_view prefix, const std::string_view (&choices)[N])
{
    if (!text.starts_with(prefix))
        return -1;
    const auto found = std::find(choices, choices + N, text.substr(prefix.size()));
    return found == choices + N ? -1 : static_cast<int>(found - choices);
}

// " for=LENGTH to=SCOPE" after an answer's button; false for anything else.
bool ParseChoices(std::string_view rest, AlertResult& result)
{
    static_assert(std::size(words::kLengths) == 4 && std::size(words::kScopes) == 4);
    // Both or neither: a line half understood is for this connection alone.
    const size_t gap = rest.find(' ', 1);
    if (!rest.starts_with(' ') || gap == std::string_view::npos)
        return false;
    const int length = WordAfter(rest.substr(1, gap - 1), words::kFor, words::kLengths);
    const int scope = WordAfter(rest.substr(gap + 1), words::kTo, words::kScopes);
    if (length < 0 || scope < 0)
        return false;
    result.length = static_cast<AnswerLength>(length);
    result.scope = static_cast<AnswerScope>(scope);
    return true;
}

}  // namespace

bool ParseAnswer(const std::string& line, AlertResult& result)
{
    int button = 0, ticked = 0, consumed = 0;
    if (!std::string_view(line).starts_with(words::kAnswer)
        || std::sscanf(line.c_str() + words::kAnswer.size(), " %d %d%n", &button, &ticked, &consumed) != 2
        || (button != 1 && button != 2))
        return false;
    const std::string_view rest = std::string_view(line).substr(words::kAnswer.size() + static_cast<size_t>(consumed));
    result.timedOut = IsLastWord(rest, words::kTimeout);
    result.away = IsLastWord(rest, words::kAway);
    // A time-out is nobody's decision: Block for this connection only. The
    // away answer is the user's setting, for this connection only too.
    result.button = result.timedOut ? 2 : button;
    if (!result.timedOut && !result.away && ticked == 0 && ParseChoices(rest, result)) {
        result.ticked = result.length == AnswerLength::kAlways
            && (result.scope == AnswerScope::kAny || result.scope == AnswerScope::kHost);
        result.hostOnly = result.ticked && result.scope == AnswerScope::kHost;
        return true;
    }
    result.ticked = ticked != 0 && !result.timedOut && !result.away;
    result.hostOnly = result.ticked && IsLastWord(rest, words::kHost);
    if (result.ticked) {
        result.length = AnswerLength::kAlways;
        result.scope = result.hostOnly ? AnswerScope::kHost : AnswerScope::kAny;
    }
    return true;
}

sigset_t RestartingSignals()
{
    sigset_t mask;
    ::pthread_sigmask(SIG_SETMASK, nullptr, &mask);
    // The end of the alert program itself is ours to see, not the program's
    // reason to give up waiting.
    ::sigaddset(&mask, SIGCHLD);
    for (int signal = 1; signal < NSIG; ++signal) {
        if (signal == SIGKILL || signal == SIGSTOP)
            continue;
        struct sigaction action {};
        if (::sigaction(signal, nullptr, &action) != 0)
            continue;
        const bool handled = (action.sa_flags & SA_SIGINFO) ? action.sa_sigaction != nullptr
                                                             : action.sa_handler != SIG_DFL && action.sa_handler != SIG_IGN;
        if (handled && (action.sa_flags & SA_RESTART))
            ::sigaddset(&mask, signal);
    }
    return mask;
}

bool Pause(int milliseconds, const sigset_t& mask)
{
    const timespec pause {milliseconds / 1000, (milliseconds % 1000) * 1000000L};
    return !(::ppoll(nullptr, 0, &pause, &mask) < 0 && errno == EINTR);
}

Speaker::~Speaker()
{
    if (pidfd_ >= 0)
        ::close(pidfd_);
}

bool Speaker::Identify(const ucred& credentials)
{
    if (credentials.uid != ::geteuid())
        return false;
    pid_ = credentials.pid;
    // Held from now on, so that ending a silent alert can never reach a
    // process that took its number after it ended.
    pidfd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
    return true;
}

void Speaker::End() const
{
    if (pidfd_ >= 0)
        ::syscall(SYS_pidfd_send_signal, pidfd_, SIGKILL, nullptr, 0);
    else if (pid_ > 0)
        ::kill(pid_, SIGKILL);
}

Conversation Converse(int fd, const std::string& request, const std::function<int()>& pressRequest,
                      const sigset_t& waitMask, int withdrawFd, StartedChild& child, Speaker& speaker,
                      AlertResult& result)
{
    Conversation conversation;
    // Refused before it was heard: an alert program that ended just then.
    if (!SendAll(fd, request)) {
        conversation.ending = Ending::kClosedEarly;
        return conversation;
    }
    const timespec interval {0, kPressCheckMs * 1000000L};
    const auto startedAt = os::MonotonicNow();
    auto heardAt = startedAt;
    // Quiet rounds last kPressCheckMs at least: the limits are reached by
    // the clock first, unless it stands still (a test's), and then by these.
    int quietRounds = 0;
    std::string pending;
    int pressed = 0;
    bool watchChild = true;
    for (;;) {
        // A negative descriptor is skipped, its revents left 0.
        pollfd waiting[3] = {{fd, POLLIN, 0}, {withdrawFd, POLLIN, 0}, {watchChild ? child.EndFd() : -1, POLLIN, 0}};
        int ready = ::ppoll(waiting, 3, &interval, &waitMask);
        if (ready < 0 && errno == EINTR) {
            conversation.ending = Ending::kInterrupted;
            return conversation;
        }
        if (ready < 0)
            return conversation;
        if (waiting[1].revents) {
            conversation.ending = Ending::kWithdrawn;
            return conversation;
        }
        // Left by a serving alert as it went to the background, or ended:
        // no zombie under the carrier while the user thinks it over.
        if (waiting[2].revents) {
            child.ReapIfEnded();
            // Readable means ended: once is enough, and never a busy loop.
            watchChild = false;
            if (--ready == 0)
                continue;
        }
        if (ready == 0) {
            // Silence counts once the alert has spoken: a program still
            // starting, or one busy taking many questions at once, has not.
            const auto now = os::MonotonicNow();
            ++quietRounds;
            if (conversation.heard
                && (now - heardAt > std::chrono::milliseconds(kSilenceLimitMs) || quietRounds > 2 * kSilenceLimitMs / kPressCheckMs)) {
                conversation.ending = Ending::kSilent;
                return conversation;
            }
            if (!conversation.heard
                && (now - startedAt > std::chrono::milliseconds(kFirstWordLimitMs) || quietRounds > 2 * kFirstWordLimitMs / kPressCheckMs)) {
                conversation.ending = Ending::kMute;
                return conversation;
            }
            const int press = pressRequest ? pressRequest() : 0;
            if (press != 0 && press != pressed) {
                pressed = press;
                if (!SendAll(fd, std::string(words::kPress) + ' ' + std::to_string(press) + '\n'))
                    return conversation;
            }
            continue;
        }
        char buffer[256];
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
        iovec data {buffer, sizeof buffer};
        msghdr message {};
        message.msg_iov = &data;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t n = ::recvmsg(fd, &message, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0) {
            conversation.ending = conversation.heard ? Ending::kClosed : Ending::kClosedEarly;
            return conversation;
        }
        if (!conversation.heard) {
            const cmsghdr* header = CMSG_FIRSTHDR(&message);
            ucred credentials {};
            if (!header || header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_CREDENTIALS)
                return conversation;
            std::memcpy(&credentials, CMSG_DATA(header), sizeof credentials);
            if (!speaker.Identify(credentials))
                return conversation;
            conversation.heard = true;
        }
        heardAt = os::MonotonicNow();
        quietRounds = 0;
        pending.append(buffer, static_cast<size_t>(n));
        for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
            if (ParseAnswer(pending.substr(0, end), result)) {
                conversation.ending = Ending::kAnswered;
                return conversation;
            }
            pending.erase(0, end + 1);
        }
        // A line that never ends is no alert's.
        if (pending.size() > 4096)
            return conversation;
    }
}

std::string Request(const AlertTexts& texts)
{
    std::string request;
    const auto add = [&request](std::string_view key, std::string_view value) {
        request += key;
        request += '\t';
        request += text::EscapeLine(value);
        request += '\n';
    };
    add(words::kCaption, texts.caption);
    add(words::kMessage, texts.message);
    add(words::kCheckBox, texts.checkBox);
    add(words::kPeer, texts.peer);
    add(words::kIcon, texts.icon);
    add(words::kDirection, texts.outgoing ? words::kOutgoing : words::kIncoming);
    if (!texts.host.empty())
        add(words::kHost, texts.host);
    // The asker takes an answer's length and scope ("for=... to=...").
    if (texts.timedMinutes > 0) {
        add(words::kChoices, std::to_string(texts.timedMinutes));
        add(words::kPort, std::to_string(texts.port));
    }
    if (texts.timeoutSeconds > 0)
        add(words::kTimeout, std::to_string(texts.timeoutSeconds));
    add(words::kAway, std::to_string(texts.awayButton) + " " + std::to_string(texts.awaySeconds));
    if (!texts.path.empty())
        add(words::kPath, texts.path);
    // An alert predating these words the caption and message as sent.
    if (!texts.program.empty()) {
        add(words::kProgram, texts.program);
        add(words::kCompany, texts.company);
        add(words::kProtocol, texts.protocol);
        if (texts.timedMinutes <= 0)
            add(words::kPort, std::to_string(texts.port));
    }
    if (texts.process.pid > 0)
        add(words::kPid, std::to_string(texts.process.pid));
    if (!texts.process.user.empty())
        add(words::kUser, texts.process.user);
    if (!texts.process.commandLine.empty())
        add(words::kCommandLine, texts.process.commandLine);
    if (texts.process.parentPid > 0)
        add(words::kParentPid, std::to_string(texts.process.parentPid));
    if (!texts.process.parentPath.empty())
        add(words::kParent, texts.process.parentPath);
    if (texts.encryptedDns)
        add(words::kEncryptedDns, "1");
    for (const std::string& ancestor : texts.process.ancestors)
        add(words::kAncestor, ancestor);
    request += words::kEnd;
    request += '\n';
    return request;
}

}  // namespace engine::launch
