#include "exchange/point_saver.h"

#include <QDeadlineTimer>
#include <QThread>

namespace kav {

PointSaver::PointSaver(QByteArray path, std::span<const Point> points, const SaveFormat& format)
    : m_path(std::move(path))
    , m_points(points)
    , m_format(format)
    , m_thread(QThread::create([this] {
        m_result = SavePointsToFile(m_path, m_points, m_format, {&m_cancelled, &m_bytesWritten, &m_pointsWritten});
    }))
{
    m_thread->start();
}

PointSaver::~PointSaver()
{
    Cancel();
    m_thread->wait();
}

bool PointSaver::Wait(int milliseconds)
{
    return m_thread->wait(QDeadlineTimer(milliseconds));
}

void PointSaver::Cancel()
{
    m_cancelled = true;
}

} // namespace kav
