// Putting one question to the user: the channel to the alert program found
// or started (AlertRendezvous), the conversation held over it
// (AlertConversation), and the programs started for it ended.
#include "engine/AlertLauncher.h"

#include "engine/AlertConversation.h"
#include "engine/AlertRendezvous.h"
#include "os/Clock.h"
#include "os/hooksafe/Retry.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <ctime>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace engine {

namespace {

using namespace launch;

// A serving alert program leaves the process we started at once and goes on
// in the background: that process ends within this time.
constexpr int kStarterExitMs = 1000;

void WaitFor(pid_t child)
{
    int status = 0;
    os::RetryOnInterrupt([&] { return ::waitpid(child, &status, 0); });
}

// The alert program has answered, gone or been given up: it ends now.
void Reap(pid_t child)
{
    ::kill(child, SIGKILL);
    WaitFor(child);
}

// The program we started: a serving alert leaves it at once and speaks from
// a process of its own; one that spoke itself served this question alone and
// ends now, as does one that never spoke. mayGoOn: it may be a serving one
// still starting (this question was taken back before it spoke), which other
// questions may have met meanwhile: it is given the same time to leave.
void ReapStarted(pid_t child, bool mayGoOn)
{
    if (mayGoOn) {
        const auto until = os::MonotonicNow() + std::chrono::milliseconds(kStarterExitMs);
        // Its end wakes us through a process descriptor; without one (a
        // kernel before 5.3, no descriptor left) it is asked again every few
        // milliseconds. Rounds are bounded too, should the clock stand still.
        const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, child, 0));
        int status = 0;
        for (int round = 0; round < kStarterExitMs; ++round) {
            const pid_t done = ::waitpid(child, &status, WNOHANG);
            if (done == child || (done < 0 && errno != EINTR)) {
                if (pidfd >= 0)
                    ::close(pidfd);
                return;
            }
            const auto now = os::MonotonicNow();
            if (now > until)
                break;
            if (pidfd >= 0) {
                pollfd end {pidfd, POLLIN, 0};
                ::poll(&end, 1, static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(until - now).count()));
            } else {
                const timespec pause {0, 5 * 1000000L};
                ::nanosleep(&pause, nullptr);
            }
        }
        if (pidfd >= 0)
            ::close(pidfd);
    }
    Reap(child);
}

}  // namespace

AlertResult RunAlert(const AlertTexts& texts, const std::function<int()>& pressRequest, const std::string& program,
                     int withdrawFd)
{
    const std::string request = Request(texts);
    const sigset_t waitMask = RestartingSignals();
    AlertRendezvous rendezvous = FindAlertRendezvous();
    rendezvous.program = program.empty() ? AlertProgramPath() : program;
    // A second try only for a question that met an alert program just as it
    // ended: it closes the question unheard, and the next one starts anew.
    for (int attempt = 0; attempt < 2; ++attempt) {
        AlertResult result;
        bool interrupted = false;
        const Channel channel = OpenChannel(rendezvous, waitMask, interrupted);
        if (interrupted) {
            result.interrupted = true;
            return result;
        }
        if (channel.fd < 0)
            return result;
        Speaker speaker;
        const Conversation conversation =
            Converse(channel.fd, request, pressRequest, waitMask, withdrawFd, speaker, result);
        // Closing the channel withdraws the question from the queue.
        ::close(channel.fd);
        if (conversation.ending != Ending::kAnswered)
            result = AlertResult {};
        result.interrupted = conversation.ending == Ending::kInterrupted;
        result.withdrawn = conversation.ending == Ending::kWithdrawn;
        if (conversation.ending == Ending::kSilent)
            speaker.End();
        if (channel.mode == Mode::kOwn && channel.child > 0)
            Reap(channel.child);
        if (channel.mode == Mode::kStarted)
            ReapStarted(channel.child, (speaker.Pid() > 0 && speaker.Pid() != channel.child)
                                           || conversation.ending == Ending::kWithdrawn);
        if (conversation.ending == Ending::kMute && channel.mode != Mode::kOwn)
            GiveUpRendezvous(rendezvous, channel.socketId, waitMask);
        if (conversation.ending == Ending::kClosedEarly && channel.mode == Mode::kJoined)
            continue;
        return result;
    }
    return {};
}

}  // namespace engine
