#include "exchange/point_saver.h"

#include <QBuffer>
#include <QImageWriter>

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

FigureExporter::FigureExporter(QByteArray path, std::span<const Point> points, ExportFormat format, QImage picture)
    : m_path(std::move(path))
    , m_points(points)
    , m_format(format)
    , m_picture(std::move(picture))
{
    Start([this] {
        const FileJobControl control = Control();
        m_result = SaveTextToFile(
            m_path,
            [this, &control](std::ostream& out) {
                switch (m_format) {
                case ExportFormat::Svg:
                    return WriteSvg(out, m_points, control);
                case ExportFormat::Dxf:
                    return WriteDxf(out, m_points, control);
                case ExportFormat::Png:
                    break;
                }
                QByteArray encoded;
                QBuffer buffer(&encoded);
                buffer.open(QIODevice::WriteOnly);
                QImageWriter writer(&buffer, "png");
                if (!writer.write(m_picture))
                    return false;
                out.write(encoded.constData(), encoded.size());
                if (control.points != nullptr)
                    *control.points = static_cast<std::int64_t>(m_points.size());
                return static_cast<bool>(out);
            },
            control);
    });
}

FigureExporter::~FigureExporter()
{
    Finish();
}

void FigureExporter::EndLease()
{
    Cancel();
    WaitForEnd();
}

} // namespace kav
