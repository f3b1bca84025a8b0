// Putting one question to the user: the channel to the alert program found
// or started (AlertRendezvous), the conversation held over it
// (AlertConversation), and the programs started for it ended.
#include "engine/AlertLauncher.h"

#include "engine/AlertConversation.h"
#include "engine/AlertRendezvous.h"

#include <unistd.h>

namespace engine {

namespace {

using namespace launch;

// A serving alert program leaves the process we started at once and goes on
// in the background: that process ends within this time.
constexpr int kStarterExitMs = 1000;

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
        Channel channel = OpenChannel(rendezvous, waitMask, interrupted);
        if (interrupted) {
            result.interrupted = true;
            return result;
        }
        if (channel.fd < 0)
            return result;
        Speaker speaker;
        const Conversation conversation =
            Converse(channel.fd, request, pressRequest, waitMask, withdrawFd, channel.child, speaker, result);
        // Closing the channel withdraws the question from the queue.
        ::close(channel.fd);
        if (conversation.ending != Ending::kAnswered)
            result = AlertResult {};
        result.interrupted = conversation.ending == Ending::kInterrupted;
        result.withdrawn = conversation.ending == Ending::kWithdrawn;
        if (conversation.ending == Ending::kSilent)
            speaker.End();
        // The program we started ends now: one for this question alone, or a
        // serving one that spoke itself and so served this question alone; a
        // serving alert leaves it at once and speaks from a process of its own.
        // One this question was taken back from before it spoke may be a
        // serving one still starting, which other questions may have met
        // meanwhile: it is given the same time to leave.
        const bool leavesByItself = channel.mode == Mode::kStarted
            && ((speaker.Pid() > 0 && speaker.Pid() != channel.child.Pid()) || conversation.ending == Ending::kWithdrawn);
        channel.child.End(leavesByItself ? kStarterExitMs : 0);
        if (conversation.ending == Ending::kMute && channel.mode != Mode::kOwn)
            GiveUpRendezvous(rendezvous, channel.socketId, waitMask);
        if (conversation.ending == Ending::kClosedEarly && channel.mode == Mode::kJoined)
            continue;
        return result;
    }
    return {};
}

}  // namespace engine
