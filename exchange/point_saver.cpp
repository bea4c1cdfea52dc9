#include "exchange/point_saver.h"

namespace kav {

PointSaver::PointSaver(QByteArray path, std::span<const Point> points, const SaveFormat& format)
    : m_path(std::move(path))
    , m_points(points)
    , m_format(format)
{
    Start([this] { m_result = SavePointsToFile(m_path, m_points, m_format, Control()); });
}

PointSaver::~PointSaver()
{
    Finish();
}

void PointSaver::EndLease()
{
    Cancel();
    WaitForEnd();
}

} // namespace kav
