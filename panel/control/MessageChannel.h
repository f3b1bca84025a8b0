#pragma once

#include "panel/core/AlertAnswers.h"
#include "panel/core/PanelCore.h"

#include <QObject>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QSocketNotifier;
namespace protocol::windows {
class Window;
}

namespace panel {

// The main window's message box: what other processes tell the panel (the
// alerts' answers, ended programs, traffic, the tray, the kernel backstop,
// a second copy asking for the window), and the window text through which
// the panel publishes its update list. Other processes find the box through
// the window registry by the main window's title.
class MessageChannel : public QObject {
    Q_OBJECT
public:
    MessageChannel(panel::PanelCore& core, QObject* parent);
    ~MessageChannel() override;

    // Registers the window and its message box with the window registry;
    // false (logged) when the runtime folder cannot hold it.
    bool Register();
    // The update list as the box's window text.
    void Publish(const std::string& text);
    // One message of the box.
    void Handle(uint32_t wParam, int64_t lParam, const std::string& data = {});
    // The programs that carry an engine now, by process: an ended program's
    // name is still known when its end is told.
    void RememberCarriers();

signals:
    // Answers that arrived together, to be stored with one save.
    void Answers(const std::vector<panel::AlertAnswer>& answers);
    // A mouse message of the tray (as TrayIcon::MouseMessage takes it).
    void TrayMouse(uint32_t message);
    void RestoreRequested();
    void BackstopNotice(const std::string& data);
    void Traffic(bool incoming, uint32_t tensOfBytes);

private:
    void ReadMessages();
    // An answer's message as the rules keep it, its program found now;
    // nullopt (logged) when the program cannot be found.
    std::optional<panel::AlertAnswer> TakeAnswer(int code, uint32_t processId, const std::string& data);
    void ProgramEnded(uint32_t processId);

    panel::PanelCore& core_;
    std::unique_ptr<protocol::windows::Window> registration_;
    QSocketNotifier* messages_ = nullptr;
    std::string published_;
    // Names of the programs that carry an engine, by process.
    std::map<uint32_t, std::string> knownCarriers_;
};

}  // namespace panel
