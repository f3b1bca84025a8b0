#include "panel/control/MessageChannel.h"

#include "os/Paths.h"
#include "panel/core/ErrorLog.h"
#include "protocol/CarrierRegistry.h"
#include "protocol/PanelMessages.h"
#include "protocol/Windows.h"
#include "rules/RulesFormat.h"

#include <QDeadlineTimer>
#include <QSocketNotifier>

#include <utility>

namespace panel {

namespace windows = protocol::windows;

MessageChannel::MessageChannel(panel::PanelCore& core, QObject* parent) : QObject(parent), core_(core) {}

MessageChannel::~MessageChannel() = default;

bool MessageChannel::Register()
{
    registration_ = windows::Window::Register(protocol::kMainWindowTitle, {protocol::kPictureBoxClass});
    if (!registration_) {
        panel::WriteErrLog("MainForm : Form_Load", "the window cannot be registered: " + os::RuntimeDirProblem());
        return false;
    }
    messages_ = new QSocketNotifier(registration_->ChildSocket(0), QSocketNotifier::Read, this);
    connect(messages_, &QSocketNotifier::activated, this, &MessageChannel::ReadMessages);
    Publish(published_);
    return true;
}

void MessageChannel::Publish(const std::string& text)
{
    published_ = text;
    if (registration_ && !windows::SetWindowText(registration_->ChildHandle(0), text))
        panel::WriteErrLog("SaveChanges : UpdateAppChanges", "the update list cannot be published");
}

void MessageChannel::ReadMessages()
{
    // What is queued now, bounded in count and time per wake-up so that the
    // window stays responsive. Answers are gathered and stored together: one
    // save and one rebuild of the tree for all of them.
    constexpr int kMostMessages = 4096;
    const QDeadlineTimer budget(100);
    std::vector<panel::AlertAnswer> answers;
    for (int i = 0; i < kMostMessages && !budget.hasExpired(); ++i) {
        const auto message = windows::ReceiveMessage(registration_->ChildSocket(0));
        if (!message)
            break;
        if (message->message != windows::WM_MOUSEMOVE)
            continue;
        const int code = windows::ParamCode(message->lParam);
        if (panel::IsStoredAnswer(code)) {
            if (auto answer = TakeAnswer(code, windows::ParamArgument(message->lParam), message->data))
                answers.push_back(std::move(*answer));
            continue;
        }
        // An ended program leaves the update list after the answers before it.
        if (code == protocol::kCodeApplicationFinished && !answers.empty())
            emit Answers(std::exchange(answers, {}));
        Handle(message->wParam, message->lParam, message->data);
    }
    if (!answers.empty())
        emit Answers(answers);
}

std::optional<panel::AlertAnswer> MessageChannel::TakeAnswer(int code, uint32_t processId, const std::string& data)
{
    // "HOST\nPATH": the host of an answer for one host (empty otherwise) and
    // the program's path, for a program that ended before this was read.
    const size_t lineEnd = data.find('\n');
    panel::AlertAnswer answer;
    answer.code = code;
    answer.processId = processId;
    answer.hostName = data.substr(0, lineEnd);
    const std::string pathHint = lineEnd == std::string::npos ? std::string() : data.substr(lineEnd + 1);
    // Found now: the process may be gone by the time the answer is stored.
    answer.path = panel::AnsweringProgramPath(processId, core_.ProcRoot(), pathHint, "MainForm : SetNewApp");
    if (answer.path.empty())
        return std::nullopt;
    return answer;
}

void MessageChannel::Handle(uint32_t, int64_t lParam, const std::string& data)
{
    // The argument's low 16 bits are unsigned (0..65535); a process id goes
    // on above them.
    const uint32_t argument = windows::ParamArgument(lParam);
    const int code = windows::ParamCode(lParam);
    switch (code) {
    case protocol::kCodeTrayIcon:
        emit TrayMouse(argument & 0xFFFF);
        break;
    case protocol::kCodeApplicationFinished:
        ProgramEnded(argument);
        break;
    case protocol::kCodeIncomingBlocked:
    case protocol::kCodeIncomingPermitted:
    case protocol::kCodeOutgoingBlocked:
    case protocol::kCodeOutgoingPermitted:
    case protocol::kCodeOutgoingHostBlocked:
    case protocol::kCodeOutgoingHostPermitted:
    case protocol::kCodeScopedAnswer:
        if (auto answer = TakeAnswer(code, argument, data))
            emit Answers({std::move(*answer)});
        break;
    case protocol::kCodeRestoreWindow:
        emit RestoreRequested();
        break;
    case protocol::kCodeBackstopNotice:
        emit BackstopNotice(data);
        break;
    case protocol::kCodeIncomingTraffic:
        emit Traffic(true, argument);
        break;
    case protocol::kCodeOutgoingTraffic:
        emit Traffic(false, argument);
        break;
    default:
        break;
    }
}

void MessageChannel::ProgramEnded(uint32_t processId)
{
    // The process is gone: its name is the one it registered with.
    RememberCarriers();
    const auto known = knownCarriers_.find(processId);
    if (known == knownCarriers_.end())
        return;
    const std::string name = known->second;
    knownCarriers_.erase(known);
    for (const auto& [pid, other] : knownCarriers_)
        if (other == name)
            return; // another copy still runs
    panel::SetNewApp(core_, protocol::kCodeApplicationFinished, processId, core_.ProcRoot(), name);
}

void MessageChannel::RememberCarriers()
{
    // Names of ended programs wait for their end to be reported; a panel that
    // never hears of them does not keep them for ever.
    if (knownCarriers_.size() > 4096)
        knownCarriers_.clear();
    // Registered by the file name; kept by the name the rules give it.
    for (const protocol::carriers::CarrierRecord& carrier : protocol::carriers::ListCarriers())
        if (carrier.alive)
            knownCarriers_[static_cast<uint32_t>(carrier.pid)] = rules::rules_format::ProgramName(carrier.exeName);
}

}  // namespace panel
