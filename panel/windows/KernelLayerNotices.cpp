#include "panel/windows/KernelLayerNotices.h"

#include "panel/control/BackstopQuestions.h"
#include "panel/control/BackstopWatch.h"
#include "panel/core/BackstopNotice.h"
#include "panel/windows/ProtectionView.h"
#include "panel/windows/StatusArea.h"
#include "panel/windows/TrayIcon.h"

namespace panel {

KernelLayerNotices::KernelLayerNotices(StatusArea* status, TrayIcon* tray, ProtectionView* protection,
                                       BackstopQuestions* questions, QObject* parent)
    : QObject(parent), status_(status), tray_(tray), questions_(questions), watch_(new BackstopWatch(this))
{
    connect(watch_, &BackstopWatch::Changed, this, [=](const QString& title, const QString& text, bool warning) {
        status->ShowKernelLayerChange(text, warning);
        if (tray)
            tray->ShowBalloon(title, text, warning);
        if (protection->isVisible())
            protection->LookAtKernelLayer();
    });
}

void KernelLayerNotices::Start() { watch_->Start(); }

void KernelLayerNotices::ShowNotice(const std::string& message)
{
    const auto notice = ParseBackstopNotice(message);
    if (!notice)
        return;
    // The side column keeps the latest; a balloon comes once per program
    // while the panel runs (the backstop already says each program once in a
    // while), so that a program retrying does not flood the desktop.
    status_->ShowBackstopNotice(QString::fromStdString(notice->summary), QString::fromStdString(notice->text));
    if (tray_ && tray_->Available() && balloonsShown_.insert(notice->program).second && balloonsShown_.size() < 4096)
        tray_->ShowBalloon(QString::fromStdString(notice->title), QString::fromStdString(notice->text), notice->denied);
    if (notice->asked)
        questions_->Ask(*notice);
}

}  // namespace panel
