#include "exchange/file_worker.h"

#include "view/user_prompts.h"

#include <cstdint>

#include <sys/eventfd.h>
#include <unistd.h>

namespace kav {

namespace {

// How often the progress shows new counts and looks at Anuluj; the end does
// not wait for it.
constexpr int kRefreshMs = 20;

} // namespace

FileWorker::FileWorker()
    : m_cancelFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
    m_refresh.setInterval(kRefreshMs);
    connect(&m_refresh, &QTimer::timeout, this, &FileWorker::OnRefresh);
}

FileWorker::~FileWorker()
{
    Finish();
    m_ended.reset();
    if (m_endFd >= 0)
        ::close(m_endFd);
    if (m_cancelFd >= 0)
        ::close(m_cancelFd);
}

void FileWorker::Cancel()
{
    if (m_cancelled.exchange(true) || m_cancelFd < 0)
        return;
    const std::uint64_t one = 1;
    (void)!::write(m_cancelFd, &one, sizeof one); // the flag alone still cancels between blocks
}

void FileWorker::Start(std::function<void()> job)
{
    m_endFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_endFd >= 0) {
        m_ended = std::make_unique<QSocketNotifier>(m_endFd, QSocketNotifier::Read);
        connect(m_ended.get(), &QSocketNotifier::activated, this, &FileWorker::OnEnded);
    }
    m_thread = std::thread([this, job = std::move(job)] {
        job();
        const std::uint64_t one = 1;
        if (m_endFd < 0 || ::write(m_endFd, &one, sizeof one) != sizeof one)
            QMetaObject::invokeMethod(this, &FileWorker::OnEnded, Qt::QueuedConnection); // no eventfd here
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
    if (m_ended) {
        std::uint64_t count = 0;
        (void)!::read(m_endFd, &count, sizeof count);
        m_ended->setEnabled(false);
    }
    WaitForEnd(); // it has ended: this only joins it
    m_refresh.stop();
    m_progress.reset();
    Q_EMIT Finished();
}

} // namespace kav
