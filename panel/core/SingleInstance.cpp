#include "panel/core/SingleInstance.h"

#include "os/Paths.h"
#include "protocol/PanelMessages.h"
#include "protocol/Presence.h"
#include "protocol/Windows.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace panel {

SingleInstance::~SingleInstance()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool SingleInstance::Acquire()
{
    problem_.clear();
    const std::string lockPath = protocol::presence::ControlPanelLockPath();
    if (lockPath.empty()) {
        problem_ = os::RuntimeDirProblem();
        return false;
    }
    errno = 0;
    fd_ = protocol::presence::HoldControlPanelLock(lockPath);
    if (fd_ >= 0)
        return true;
    if (!protocol::presence::IsControlPanelRunning(lockPath))
        problem_ = "cannot take the lock " + lockPath + ": " + std::strerror(errno ? errno : EIO);
    return false;
}

bool RestorePreviousInstance()
{
    namespace windows = protocol::windows;
    for (const std::string& window : windows::FindWindows(protocol::kMainWindowTitle)) {
        std::string box = windows::FindChildWindow(window, protocol::kPictureBoxClass);
        if (box.empty())
            box = windows::FindChildWindow(window, protocol::kPictureBoxClassOld);
        if (box.empty())
            continue;
        return windows::PostMessage(box, windows::WM_MOUSEMOVE, 0,
                                    windows::MakeCodedParam(protocol::kCodeRestoreWindow, 0));
    }
    return false;
}

}  // namespace panel
