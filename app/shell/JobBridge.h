// Carries a job's reports from its worker thread to the interface thread. Each report is queued to
// the thread of this object and the worker waits until it has been handled there, so log lines
// and progress arrive in order and a worker never runs ahead of the window. A stop of the job
// ends that wait (the later reports are still queued, in order, without waiting), so the
// interface thread can stop and wait for a job at any moment without a deadlock. Detach() drops
// every report that has not been handled yet. The structured reports (a coded picture, a compared
// frame) take the same way as the log lines, so they arrive in order with them.
#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <functional>

#include "Job.h"

namespace tessaro::shell {

class JobBridge : public QObject, public JobObserver {
    Q_OBJECT
  public:
    explicit JobBridge(QObject* parent = nullptr);
    ~JobBridge() override;

    void Log(const std::string& line) override;
    void Error(const std::string& message) override;
    void ProgressStart(const std::string& label, int minimum, int maximum) override;
    void ProgressPosition(int position) override;
    void ProgressStop() override;
    void Picture(const PictureReport& picture) override;
    void Compared(const FrameComparison& frame) override;
    void Finished(const JobResult& result) override;
    void StopRequested() override;

    // Before a new run: waits for reports again.
    void Reset();
    // From the interface thread: reports not handled yet are dropped; a waiting worker goes on.
    void Detach();
    bool Detached() const { return detached_.load(); }

  signals:
    void logLine(const QString& line);
    void errorMessage(const QString& message);
    void progressStarted(const QString& label, int minimum, int maximum);
    void progressMoved(int position);
    void progressStopped();
    void pictureReported(const tessaro::PictureReport& picture);
    void frameCompared(const tessaro::FrameComparison& frame);
    void finished(bool completed, int frames, const QString& outputPath);

  private:
    // Runs `report` on this object's thread and waits for it (directly when already there).
    void Deliver(std::function<void()> report);

    ReportHandoff handoff_;
    std::atomic<bool> detached_{false};
};

}  // namespace tessaro::shell

Q_DECLARE_METATYPE(tessaro::PictureReport)
Q_DECLARE_METATYPE(tessaro::FrameComparison)
