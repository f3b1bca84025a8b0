#pragma once

#include <QObject>
#include <set>
#include <string>

namespace panel {

class BackstopQuestions;
class BackstopWatch;
class ProtectionView;
class StatusArea;
class TrayIcon;

// What the window says of the kernel backstop: when it stops, fails to start
// or comes back, once per change, in the side column, as a balloon (where
// there is a tray) and on the Protection page while that is shown; and what
// it reports of the programs the hook is not in, an "ask" among them put to
// the user (questions).
class KernelLayerNotices : public QObject {
    Q_OBJECT
public:
    KernelLayerNotices(StatusArea* status, TrayIcon* tray, ProtectionView* protection, BackstopQuestions* questions,
                       QObject* parent);
    // Watching starts, with the start at login where nothing else starts it.
    void Start();
    // One notice line, as the backstop's relay wrote it.
    void ShowNotice(const std::string& message);

private:
    StatusArea* status_;
    TrayIcon* tray_;
    BackstopQuestions* questions_;
    BackstopWatch* watch_;
    std::set<std::string> balloonsShown_;
};

}  // namespace panel
