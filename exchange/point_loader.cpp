#include "exchange/point_loader.h"

#include <QDeadlineTimer>
#include <QThread>

#include <cerrno>

#include <poll.h>
#include <unistd.h>

namespace kav {

namespace {

// How often a load that waits for data looks whether it was cancelled.
constexpr int kPollMs = 50;

} // namespace

PointLoader::PointLoader(FileHandle file, PointReallocator reallocate)
    : m_file(std::move(file))
    , m_points(reallocate)
    , m_thread(QThread::create([this] { Run(); }))
{
    m_thread->start();
}

PointLoader::~PointLoader()
{
    Cancel();
    m_thread->wait();
}

bool PointLoader::Wait(int milliseconds)
{
    return m_thread->wait(QDeadlineTimer(milliseconds));
}

void PointLoader::Cancel()
{
    m_cancelled = true;
}

void PointLoader::Run()
{
    PointScanner scanner([this](std::span<const Point> pairs) {
        if (!m_points.AppendPoints(pairs))
            return false;
        m_pointsFound += static_cast<std::int64_t>(pairs.size());
        return true;
    });
    const std::span<char> buffer = scanner.Buffer();
    for (;;) {
        if (m_cancelled) {
            m_status = LoadStatus::Cancelled;
            return;
        }
        // Waits for data in short steps, so that a pipe that stays silent
        // can still be cancelled.
        pollfd wait{m_file.Get(), POLLIN, 0};
        const int ready = ::poll(&wait, 1, kPollMs);
        if (ready == 0 || (ready < 0 && errno == EINTR))
            continue;
        const ssize_t got = ready < 0 ? -1 : ::read(m_file.Get(), buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            m_error = FileResult::FromErrno(FileStep::Read);
            m_status = LoadStatus::ReadFailed;
            return;
        }
        if (got == 0)
            break;
        m_bytesRead += got;
        if (!scanner.Feed(static_cast<std::size_t>(got))) {
            m_status = LoadStatus::TooMany;
            return;
        }
    }
    m_status = scanner.Finish() ? LoadStatus::Loaded : LoadStatus::TooMany;
}

} // namespace kav
