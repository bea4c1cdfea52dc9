#include "exchange/file_worker.h"

#include "view/user_prompts.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

namespace kav {

FileWorker::FileWorker() = default;

FileWorker::~FileWorker()
{
    Finish();
}

void FileWorker::Start(std::function<void()> job)
{
    m_thread.reset(QThread::create(std::move(job)));
    m_thread->start();
}

void FileWorker::Finish()
{
    if (!m_thread)
        return;
    Cancel();
    m_thread->wait();
}

bool FileWorker::Wait(int milliseconds)
{
    return !m_thread || m_thread->wait(QDeadlineTimer(milliseconds));
}

bool FileWorker::WaitShowing(std::unique_ptr<CProgress> progress, const std::function<bool()>& stop)
{
    // How often the window repaints and the user may cancel.
    constexpr int kStepMs = 20;
    bool cancelled = false;
    while (!Wait(kStepMs)) {
        if (!progress)
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        if (cancelled)
            continue;
        if ((stop && stop()) || (progress && !progress->Update(DoneBytes(), DonePoints()))) {
            Cancel();
            cancelled = true;
            progress.reset();
        }
    }
    return cancelled;
}

} // namespace kav
