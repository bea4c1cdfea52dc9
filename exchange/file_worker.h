#pragma once

#include <atomic>
#include <functional>
#include <memory>

class QThread;

namespace kav {

// A file job on a thread of its own, which the owner waits for in short
// steps and may cancel at any time: the loader and the saver.
class FileWorker {
public:
    FileWorker(const FileWorker&) = delete;
    FileWorker& operator=(const FileWorker&) = delete;

    // True once the job has ended; waits up to `milliseconds` for that.
    bool Wait(int milliseconds);
    void Cancel() { m_cancelled = true; }

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
