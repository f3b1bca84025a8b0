#include "zelconn/JournalForwarder.h"

#include "os/Clock.h"
#include "protocol/LogFiles.h"
#include "zelconn/JournalEntry.h"

namespace zelconn {

void JournalForwarder::Configure(bool on, const std::string& logFolder, std::time_t now)
{
    if (!on || logFolder.empty()) {
        if (follower_.Following())
            follower_.Stop();
        hasPending_ = false;
        return;
    }
    if (!follower_.Following() || follower_.Folder() != logFolder) {
        follower_.Start(logFolder, now);
        hasPending_ = false;
    }
}

bool JournalForwarder::SendPending(std::chrono::steady_clock::time_point now)
{
    if (pendingState_ == JournalSocket::Sent::kAbsent && now < retryAt_)
        return false;
    pendingState_ = socket_.Send(pending_);
    switch (pendingState_) {
    case JournalSocket::Sent::kSent:
        ++counts_.sent;
        hasPending_ = false;
        return true;
    case JournalSocket::Sent::kRefused:
        ++counts_.refused;
        hasPending_ = false;
        return true;
    case JournalSocket::Sent::kAbsent:
        retryAt_ = now + kAbsentRetry;
        return false;
    case JournalSocket::Sent::kBusy:
        return false;
    }
    return false;
}

bool JournalForwarder::Forward(std::time_t now)
{
    if (!follower_.Following())
        return false;
    follower_.Refresh(now);
    const auto clock = os::MonotonicNow();
    std::string line;
    for (int sent = 0; sent < kTurnRecords; ++sent) {
        if (!hasPending_) {
            bool found = false;
            while (!found && follower_.Next(line)) {
                if (const auto record = protocol::ParseLogLine(line)) {
                    pending_ = journal_entry::Format(*record);
                    found = hasPending_ = true;
                } else if (!line.empty()) {
                    ++counts_.notRecords;
                }
            }
            if (!found)
                return false;
        }
        if (!SendPending(clock))
            return false;
    }
    return true;
}

}  // namespace zelconn
