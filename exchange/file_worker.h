#pragma once

#include "exchange/file_result.h"

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

namespace kav {

class CProgress;

// A file job on a thread of its own: the loader, the saver and the journal
// reader. It starts at once; its end comes as Finished() on the thread that
// made it, after which the results may be read. The owner returns to the
// event loop meanwhile and may cancel it at any time.
class FileWorker : public QObject {
    Q_OBJECT

public:
    FileWorker(const FileWorker&) = delete;
    FileWorker& operator=(const FileWorker&) = delete;

    void Cancel();
    bool Running() const { return m_thread.joinable(); }
    // Blocks until the job has ended; Finished() still comes.
    void WaitForEnd();

    // The bytes and the points done so far, while it runs.
    std::int64_t DoneBytes() const { return m_doneBytes; }
    std::int64_t DonePoints() const { return m_donePoints; }

    // Shows the counts in `progress` (none: nothing shown) until the job
    // ends; its Anuluj cancels the job, whose end still comes.
    void ShowProgress(std::unique_ptr<CProgress> progress);

Q_SIGNALS:
    void Finished();

protected:
    FileWorker();
    ~FileWorker() override;
    // Starts the job; the last step of a derived constructor.
    void Start(std::function<void()> job);
    // Cancels a job still running and waits for it. The first step of a
    // derived destructor, since the job uses the derived members.
    void Finish();

    // For the job: its cancel and its counts.
    FileJobControl Control() { return {&m_cancelled, &m_doneBytes, &m_donePoints, m_cancelFd}; }

private:
    void OnEnded();
    void OnRefresh();

    std::atomic<bool> m_cancelled = false;
    std::atomic<std::int64_t> m_doneBytes = 0;
    std::atomic<std::int64_t> m_donePoints = 0;
    std::unique_ptr<CProgress> m_progress;
    QTimer m_refresh; // the progress's counts, a few times a second
    // The job's end reaches the owner's thread through an eventfd, which
    // every part of the handover sees as synchronising (sanitizers too),
    // and which nothing on the job's thread has to allocate for.
    int m_endFd = -1;
    int m_cancelFd = -1; // written once at the cancel, for the job's waits
    std::unique_ptr<QSocketNotifier> m_ended;
    std::thread m_thread;
};

} // namespace kav
