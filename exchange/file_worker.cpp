#include "exchange/file_worker.h"

#include "view/user_prompts.h"

namespace kav {

namespace {

// How often the progress shows new counts and looks at Anuluj; the end does
// not wait for it.
constexpr int kRefreshMs = 20;

} // namespace

FileWorker::FileWorker()
{
    m_refresh.setInterval(kRefreshMs);
    connect(&m_refresh, &QTimer::timeout, this, &FileWorker::OnRefresh);
}

FileWorker::~FileWorker()
{
    Finish();
}

void FileWorker::Start(std::function<void()> job)
{
    m_thread = std::thread([this, job = std::move(job)] {
        job();
        // Removed unread if the worker goes first, which joins this thread
        // before it does.
        QMetaObject::invokeMethod(this, &FileWorker::OnEnded, Qt::QueuedConnection);
    });
}

void FileWorker::Finish()
{
    Cancel();
    WaitForEnd();
}

void FileWorker::WaitForEnd()
{
    if (m_thread.joinable())
        m_thread.join();
}

void FileWorker::ShowProgress(std::unique_ptr<CProgress> progress)
{
    m_progress = std::move(progress);
    if (m_progress)
        m_refresh.start();
}

void FileWorker::OnRefresh()
{
    if (m_progress && !m_progress->Update(DoneBytes(), DonePoints())) {
        Cancel();
        m_progress.reset();
        m_refresh.stop();
    }
}

void FileWorker::OnEnded()
{
    WaitForEnd(); // it has ended: this only joins it
    m_refresh.stop();
    m_progress.reset();
    Q_EMIT Finished();
}

} // namespace kav
