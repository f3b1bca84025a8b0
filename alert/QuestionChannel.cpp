#include "alert/QuestionChannel.h"

#include "os/hooksafe/Retry.h"
#include "protocol/AlertWords.h"
#include "text/Strings.h"

#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace alert {

namespace {

namespace words = protocol::alert_words;

// No engine sends more: a longer line, or more before "end", is no question.
constexpr qsizetype kLineLimit = 64 * 1024;
constexpr qsizetype kTextsLimit = 256 * 1024;
// What may wait for an engine that does not read before "alive" is dropped.
constexpr qsizetype kUnsentLimit = 4096;

void MakeNonBlocking(int fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK); }

// The standard descriptors stay taken (by /dev/null), so that nothing opened
// later lands on them and is written to by mistake.
void ReleaseDescriptor(int fd)
{
    if (fd > STDERR_FILENO) {
        ::close(fd);
        return;
    }
    const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null >= 0) {
        ::dup2(null, fd);
        ::close(null);
    }
}

}  // namespace

QuestionChannel::QuestionChannel(int in, int out, QObject* parent) : QObject(parent), in_(in), out_(out)
{
    MakeNonBlocking(in_);
    if (out_ != in_)
        MakeNonBlocking(out_);
    reading_ = new QSocketNotifier(in_, QSocketNotifier::Read, this);
    connect(reading_, &QSocketNotifier::activated, this, &QuestionChannel::Read);
    writing_ = new QSocketNotifier(out_, QSocketNotifier::Write, this);
    writing_->setEnabled(false);
    connect(writing_, &QSocketNotifier::activated, this, &QuestionChannel::Flush);
}

QuestionChannel::~QuestionChannel() { Close(); }

void QuestionChannel::Close()
{
    if (in_ < 0)
        return;
    reading_->setEnabled(false);
    writing_->setEnabled(false);
    ReleaseDescriptor(in_);
    if (out_ != in_)
        ReleaseDescriptor(out_);
    in_ = out_ = -1;
}

void QuestionChannel::Read()
{
    char buffer[4096];
    for (;;) {
        const ssize_t n = os::RetryOnInterrupt([&] { return ::read(in_, buffer, sizeof buffer); });
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        if (n <= 0) {
            Close();
            emit Closed();
            return;
        }
        received_.append(buffer, n);
        for (qsizetype end; in_ >= 0 && (end = received_.indexOf('\n')) >= 0;) {
            const QByteArray line = received_.left(end);
            received_.remove(0, end + 1);
            TakeLine(line);
        }
        if (in_ < 0)
            return;
        if (received_.size() > kLineLimit) {
            Close();
            emit Closed();
            return;
        }
    }
}

void QuestionChannel::TakeLine(const QByteArray& line)
{
    if (complete_) {
        // "press BUTTON"
        const QByteArray press = QByteArray(words::kPress.data(), static_cast<qsizetype>(words::kPress.size())) + ' ';
        if (line.startsWith(press))
            emit PressRequested(line.mid(press.size()).toInt());
        return;
    }
    if (std::string_view(line.constData(), static_cast<size_t>(line.size())) == words::kEnd) {
        complete_ = true;
        emit Completed();
        return;
    }
    const qsizetype tab = line.indexOf('\t');
    if (tab < 0)
        return;
    content_.Set(line.left(tab).toStdString(),
                 text::UnescapeLine(std::string_view(line.constData() + tab + 1, static_cast<size_t>(line.size() - tab - 1))));
    // Counted as it comes: the texts together must stay small as well.
    if (content_.message.size() + content_.commandLine.size() + content_.path.size() + content_.peer.size()
            + content_.checkBox.size() + content_.caption.size() + content_.parentPath.size()
            + content_.ancestors.join(QString()).size()
        > kTextsLimit) {
        Close();
        emit Closed();
    }
}

void QuestionChannel::Say(const QByteArray& line, bool droppable)
{
    if (out_ < 0 || finishing_ || (droppable && unsent_.size() > kUnsentLimit))
        return;
    unsent_ += line;
    Flush();
}

void QuestionChannel::Finish(const QByteArray& answer)
{
    if (out_ < 0)
        return;
    Say(answer);
    finishing_ = true;
    // Nothing more is read: a press or a close from now on changes nothing.
    reading_->setEnabled(false);
    if (unsent_.isEmpty()) {
        Close();
        deleteLater();
    }
}

void QuestionChannel::Flush()
{
    while (out_ >= 0 && !unsent_.isEmpty()) {
        const ssize_t n = os::RetryOnInterrupt([this] {
            const ssize_t sent = ::send(out_, unsent_.constData(), static_cast<size_t>(unsent_.size()), MSG_DONTWAIT | MSG_NOSIGNAL);
            return sent < 0 && errno == ENOTSOCK ? ::write(out_, unsent_.constData(), static_cast<size_t>(unsent_.size())) : sent;
        });
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            writing_->setEnabled(true);
            return;
        }
        if (n < 0) {
            // The engine is gone: what it asked no longer matters.
            unsent_.clear();
            Close();
            if (finishing_)
                deleteLater();
            else
                emit Closed();
            return;
        }
        unsent_.remove(0, n);
    }
    writing_->setEnabled(false);
    if (finishing_) {
        Close();
        deleteLater();
    }
}

}  // namespace alert
