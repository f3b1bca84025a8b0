#include "engine/PanelNotices.h"

#include "protocol/PanelMessages.h"
#include "protocol/Windows.h"

namespace engine {

void NotifyControlPanel(int alertCode, pid_t pid, const std::string& exePath, std::string_view firstLine)
{
    const std::string window = protocol::windows::FindWindow(protocol::kMainWindowTitle);
    std::string box = protocol::windows::FindChildWindow(window, protocol::kPictureBoxClass);
    if (box.empty())
        box = protocol::windows::FindChildWindow(window, protocol::kPictureBoxClassOld);
    // The host's name (for an answer about one host) and the program's path:
    // the program may have ended by the time the panel reads the message,
    // and its process can no longer tell. A path too long to travel is left
    // out: the panel then asks the process.
    std::string data(firstLine);
    if (data.size() + 1 + exePath.size() <= protocol::windows::kMaxMessageData)
        data += "\n" + exePath;
    protocol::windows::PostMessage(box, protocol::windows::WM_MOUSEMOVE, 0,
                                   protocol::windows::MakeCodedParam(static_cast<uint16_t>(alertCode),
                                                                     static_cast<uint32_t>(pid)),
                                   data);
}

}  // namespace engine
