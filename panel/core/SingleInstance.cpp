#include "core/SingleInstance.h"

#include "platform/Constants.h"
#include "platform/Paths.h"
#include "platform/Presence.h"
#include "platform/Windows.h"

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
    const std::string lockPath = platform::presence::ControlPanelLockPath();
    if (lockPath.empty()) {
        problem_ = platform::RuntimeDirProblem();
        return false;
    }
    errno = 0;
    fd_ = platform::presence::HoldControlPanelLock(lockPath);
    if (fd_ >= 0)
        return true;
    if (!platform::presence::IsControlPanelRunning(lockPath))
        problem_ = "cannot take the lock " + lockPath + ": " + std::strerror(errno ? errno : EIO);
    return false;
}

bool RestorePreviousInstance()
{
    namespace windows = platform::windows;
    for (const std::string& window : windows::FindWindows(platform::kMainWindowTitle)) {
        std::string box = windows::FindChildWindow(window, platform::kPictureBoxClass);
        if (box.empty())
            box = windows::FindChildWindow(window, platform::kPictureBoxClassOld);
        if (box.empty())
            continue;
        return windows::PostMessage(box, windows::WM_MOUSEMOVE, 0,
                                    windows::MakeCodedParam(platform::kCodeRestoreWindow, 0));
    }
    return false;
}

}  // namespace panel
