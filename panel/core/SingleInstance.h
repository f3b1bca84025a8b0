#pragma once

#include <string>

namespace panel {

// One control panel per user: the running one holds the presence lock (which
// the engines also ask to know that the panel runs) for its whole life.

class SingleInstance {
public:
    SingleInstance() = default;
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // Takes the lock. False when another control panel holds it (Problem()
    // is then empty) or when it cannot be taken at all (Problem() says why).
    bool Acquire();
    const std::string& Problem() const { return problem_; }

private:
    int fd_ = -1;
    std::string problem_;
};

// Asks the running copy to show itself: the restore code goes to the message
// box of the first window with the main window's title that has one. False
// when no such window was found and nothing was posted.
bool RestorePreviousInstance();

}  // namespace panel
