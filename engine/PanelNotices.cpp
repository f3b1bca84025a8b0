#include "engine/PanelNotices.h"

#include "platform/Constants.h"
#include "platform/Windows.h"

namespace engine {

void NotifyControlPanel(int alertCode, pid_t pid, const std::string& exePath, std::string_view firstLine)
{
    const std::string window = platform::windows::FindWindow(platform::kMainWindowTitle);
    std::string box = platform::windows::FindChildWindow(window, platform::kPictureBoxClass);
    if (box.empty())
        box = platform::windows::FindChildWindow(window, platform::kPictureBoxClassOld);
    // The host's name (for an answer about one host) and the program's path:
    // the program may have ended by the time the panel reads the message,
    // and its process can no longer tell. A path too long to travel is left
    // out: the panel then asks the process.
    std::string data(firstLine);
    if (data.size() + 1 + exePath.size() <= platform::windows::kMaxMessageData)
        data += "\n" + exePath;
    platform::windows::PostMessage(box, platform::windows::WM_MOUSEMOVE, 0,
                                   platform::windows::MakeCodedParam(static_cast<uint16_t>(alertCode),
                                                                     static_cast<uint32_t>(pid)),
                                   data);
}

}  // namespace engine
