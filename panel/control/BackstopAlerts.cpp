#include "panel/control/BackstopAlerts.h"

#include "os/Processes.h"
#include "rules/RulesFormat.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>

namespace panel {

BackstopAlerts::~BackstopAlerts()
{
    // Each alert is told to close (Block pressed for it) at its next look,
    // within a tenth of a second; what it answers is dropped.
    closing_ = true;
    for (Question& question : open_)
        if (question.thread.joinable())
            question.thread.join();
}

engine::AlertTexts BackstopAlerts::TextsFor(const panel::BackstopNotice& notice)
{
    const std::string name = rules::rules_format::CarrierExeName(rules::rules_format::CleanCarrierPath(notice.program));
    const bool ipv6 = notice.address.find(':') != std::string::npos;
    engine::AlertTexts texts;
    texts.outgoing = !notice.incoming;
    // The caption stays in English: it is what the alert window is found by.
    texts.caption = name + " - Connection Alert! (not under the firewall)";
    // Short enough for the alert's five lines with a long path.
    const QString program = QString::fromStdString(notice.program);
    const QString address = QString::fromStdString(notice.address);
    const QString port = QString::number(notice.port);
    QString message;
    if (notice.incoming)
        message = ipv6 ? QCoreApplication::translate("BackstopAlerts",
                                                     "%1 is trying to accept incoming connection from %2 through "
                                                     "port:%3 without the firewall in it. It was blocked until you "
                                                     "decide; your answer is kept for this port.")
                       : QCoreApplication::translate("BackstopAlerts",
                                                     "%1 is trying to accept incoming connection from %2 through "
                                                     "port:%3 without the firewall in it. It was blocked until you "
                                                     "decide; your answer is kept for this address and port.");
    else
        message = ipv6 ? QCoreApplication::translate("BackstopAlerts",
                                                     "%1 is trying to create outgoing connection to %2 through "
                                                     "port:%3 without the firewall in it. It was blocked until you "
                                                     "decide; your answer is kept for this port.")
                       : QCoreApplication::translate("BackstopAlerts",
                                                     "%1 is trying to create outgoing connection to %2 through "
                                                     "port:%3 without the firewall in it. It was blocked until you "
                                                     "decide; your answer is kept for this address and port.");
    texts.message = message.arg(program, address, port).toStdString();
    texts.checkBox = (notice.incoming ? QCoreApplication::translate("BackstopAlerts", "Apply my decision to all %1 incoming traffic")
                                      : QCoreApplication::translate("BackstopAlerts", "Apply my decision to all %1 outgoing traffic"))
                         .arg(QString::fromStdString(name))
                         .toStdString();
    texts.peer = notice.address;
    return texts;
}

bool BackstopAlerts::Ask(const panel::BackstopNotice& notice, const std::string& alertProgram)
{
    const std::string key = rules::rules_format::CarrierExeName(rules::rules_format::CleanCarrierPath(notice.program)) + " "
        + notice.address + " " + std::to_string(notice.port) + (notice.incoming ? " in" : "");
    if (open_.size() >= kMaxOpen)
        return false;
    for (const Question& question : open_)
        if (question.key == key)
            return false;
    const uint64_t id = nextId_++;
    Question& question = open_.emplace_back(Question {id, key, {}});
    const engine::AlertTexts texts = TextsFor(notice);
    question.thread = std::thread([this, id, notice, texts, alertProgram] {
        const engine::AlertResult result
            = engine::RunAlert(texts, [this] { return closing_.load() ? 2 : 0; }, alertProgram);
        if (closing_.load())
            return;
        QMetaObject::invokeMethod(
            receiver_,
            [this, id, notice, result] {
                answered_(notice, result);
                Finished(id);
            },
            Qt::QueuedConnection);
    });
    return true;
}

void BackstopAlerts::Finished(uint64_t id)
{
    for (auto question = open_.begin(); question != open_.end(); ++question) {
        if (question->id != id)
            continue;
        if (question->thread.joinable())
            question->thread.join(); // it ends right after handing the answer over
        open_.erase(question);
        return;
    }
}

}  // namespace panel
