#include "exchange/point_saver.h"

#include <QBuffer>
#include <QImageWriter>

namespace kav {

PointSaver::PointSaver(QByteArray path, std::span<const Point> points, Text text)
    : m_path(std::move(path))
    , m_points(points)
    , m_text(std::move(text))
{
    Start([this] {
        const FileJobControl control = Control();
        m_result = SaveTextToFile(m_path, m_text(m_points, control), control);
    });
}

PointSaver::PointSaver(QByteArray path, std::span<const Point> points, const SaveFormat& format)
    : PointSaver(std::move(path), points, SavedText(format))
{
}

PointSaver::Text SavedText(const SaveFormat& format)
{
    return [format](std::span<const Point> points, const FileJobControl& control) {
        return PointsText(points, format, control);
    };
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

PointSaver::Text ExportText(ExportFormat format, PictureRenderer render)
{
    return [format, render](std::span<const Point> points, const FileJobControl& control) -> TextWriter {
        switch (format) {
        case ExportFormat::Svg:
            return [points, &control](std::ostream& out) { return WriteSvg(out, points, control); };
        case ExportFormat::Dxf:
            return [points, &control](std::ostream& out) { return WriteDxf(out, points, control); };
        case ExportFormat::Png:
            break;
        }
        return [points, &render, &control](std::ostream& out) {
            const std::optional<QImage> picture = render ? render(points, control.cancelled) : QImage();
            if (!picture)
                return false; // cancelled
            QByteArray encoded;
            QBuffer buffer(&encoded);
            buffer.open(QIODevice::WriteOnly);
            if (!QImageWriter(&buffer, "png").write(*picture))
                return false;
            out.write(encoded.constData(), encoded.size());
            if (control.points != nullptr)
                *control.points = static_cast<std::int64_t>(points.size());
            return static_cast<bool>(out);
        };
    };
}

} // namespace kav
