#include "JobBridge.h"

#include <QMetaObject>
#include <QThread>

namespace tessaro::shell {

JobBridge::JobBridge(QObject* parent) : QObject(parent) {}

JobBridge::~JobBridge() {
    Detach();
}

void JobBridge::StopRequested() {
    handoff_.Abandon();
}

void JobBridge::Reset() {
    detached_.store(false);
    handoff_.Reset();
}

void JobBridge::Detach() {
    detached_.store(true);
    handoff_.Abandon();
}

void JobBridge::Deliver(std::function<void()> report) {
    if (QThread::currentThread() == thread()) {
        if (!Detached()) report();
        return;
    }
    if (Detached()) return;
    const bool wait = !handoff_.Abandoned();
    const uint64_t ticket = wait ? handoff_.Begin() : 0;
    // Dropped unrun when this object is gone before the event loop reaches it; the destructor
    // abandons the handoff first, which releases a waiting worker.
    QMetaObject::invokeMethod(
        this,
        [this, wait, ticket, report = std::move(report)] {
            if (!Detached()) report();
            if (wait) handoff_.Done(ticket);
        },
        Qt::QueuedConnection);
    if (wait) handoff_.Await(ticket);
}

void JobBridge::Log(const std::string& line) {
    const QString text = QString::fromStdString(line);
    Deliver([this, text] { emit logLine(text); });
}

void JobBridge::Error(const std::string& message) {
    const QString text = QString::fromStdString(message);
    Deliver([this, text] { emit errorMessage(text); });
}

void JobBridge::ProgressStart(const std::string& label, int minimum, int maximum) {
    const QString text = QString::fromStdString(label);
    Deliver([this, text, minimum, maximum] { emit progressStarted(text, minimum, maximum); });
}

void JobBridge::ProgressPosition(int position) {
    Deliver([this, position] { emit progressMoved(position); });
}

void JobBridge::ProgressStop() {
    Deliver([this] { emit progressStopped(); });
}

void JobBridge::Picture(const PictureReport& picture) {
    Deliver([this, picture] { emit pictureReported(picture); });
}

void JobBridge::Compared(const FrameComparison& frame) {
    Deliver([this, frame] { emit frameCompared(frame); });
}

void JobBridge::Finished(const JobResult& result) {
    const bool completed = result.completed;
    const int frames = result.frames;
    const QString path = QString::fromStdString(result.outputPath);
    Deliver([this, completed, frames, path] { emit finished(completed, frames, path); });
}

}  // namespace tessaro::shell
