#pragma once

#include <QtGlobal>

#include <atomic>
#include <functional>
#include <memory>
#include <utility>

class QThread;

namespace kav {

class CProgress;

// A file job on a thread of its own, which the owner waits for in short
// steps and may cancel at any time: the loader and the saver.
class FileWorker {
public:
    FileWorker(const FileWorker&) = delete;
    FileWorker& operator=(const FileWorker&) = delete;

    // True once the job has ended; waits up to `milliseconds` for that.
    bool Wait(int milliseconds);
    void Cancel() { m_cancelled = true; }

    // The bytes and the points done so far, for the progress.
    using Counts = std::function<std::pair<qint64, qint64>()>;
    // Waits for the job's end in short steps, the window repainting
    // meanwhile. After each step `progress`, when there is one, shows
    // `counts()`; its Anuluj, or `stop()` turning true, cancels the job,
    // whose end is still waited for. True when it was cancelled.
    bool WaitShowing(std::unique_ptr<CProgress> progress, const Counts& counts,
                     const std::function<bool()>& stop = {});

protected:
    FileWorker();
    ~FileWorker();
    // Starts the job at once; the last step of a derived constructor.
    void Start(std::function<void()> job);
    // Cancels a job still running and waits for it. The first step of a
    // derived destructor, since the job uses the derived members.
    void Finish();

    std::atomic<bool> m_cancelled = false;

private:
    std::unique_ptr<QThread> m_thread;
};

} // namespace kav
