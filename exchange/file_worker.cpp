#include "exchange/file_worker.h"

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

} // namespace kav
