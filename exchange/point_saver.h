#pragma once

#include "exchange/figure_export.h"
#include "exchange/file_worker.h"
#include "exchange/point_file.h"
#include "view/point_document.h"

#include <QImage>

namespace kav {

// Saves points to a file on a thread of its own, so that neither a large
// figure nor a slow disk or pipe holds up the window. It reads the points
// in place, under a lease on them: a change that would disturb them
// cancels the save and waits for its end.
class PointSaver final : public FileWorker, public PointReader {
public:
    // Starts at once.
    PointSaver(QByteArray path, std::span<const Point> points, const SaveFormat& format);
    // Cancels a save still running and waits for its thread.
    ~PointSaver() override;

    // Once it has ended: Cancelled() when a cancel came in time to keep the
    // old file.
    FileResult Result() const { return m_result; }

    std::span<const Point> Leased() const override { return Running() ? m_points : std::span<const Point>(); }
    void EndLease() override;

private:
    QByteArray m_path;
    std::span<const Point> m_points;
    SaveFormat m_format;
    FileResult m_result;
};

// Exports the figure as SVG, DXF or PNG, as PointSaver saves it: on a
// thread, atomically, under a lease on the points. A PNG is `picture`
// encoded there.
class FigureExporter final : public FileWorker, public PointReader {
public:
    FigureExporter(QByteArray path, std::span<const Point> points, ExportFormat format, QImage picture = {});
    ~FigureExporter() override;

    FileResult Result() const { return m_result; }

    std::span<const Point> Leased() const override { return Running() ? m_points : std::span<const Point>(); }
    void EndLease() override;

private:
    QByteArray m_path;
    std::span<const Point> m_points;
    ExportFormat m_format;
    QImage m_picture;
    FileResult m_result;
};

} // namespace kav
