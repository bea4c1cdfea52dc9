#pragma once

#include "exchange/figure_export.h"
#include "exchange/file_worker.h"
#include "exchange/point_file.h"
#include "view/point_document.h"

#include <QImage>

#include <atomic>
#include <functional>
#include <optional>
#include <span>

namespace kav {

// Writes the points to a file on a thread of its own, so that neither a
// large figure nor a slow disk or pipe holds up the window: Save in a
// coordinate format, and the exports. The file is replaced atomically, as
// SaveTextToFile does. It reads the points in place, under a lease on
// them: a change that would disturb them cancels the write and waits for
// its end.
class PointSaver final : public FileWorker, public PointReader {
public:
    // The file's text, made on the job's thread with the job's control.
    using Text = std::function<TextWriter(std::span<const Point> points, const FileJobControl& control)>;

    // Starts at once.
    PointSaver(QByteArray path, std::span<const Point> points, Text text);
    PointSaver(QByteArray path, std::span<const Point> points, const SaveFormat& format);
    // Cancels a write still running and waits for its thread.
    ~PointSaver() override;

    // Once it has ended: Cancelled() when a cancel came in time to keep the
    // old file.
    FileResult Result() const { return m_result; }

    std::span<const Point> Leased() const override { return Running() ? m_points : std::span<const Point>(); }
    void EndLease() override;

private:
    QByteArray m_path;
    std::span<const Point> m_points;
    Text m_text;
    FileResult m_result;
};

// The points' text in a coordinate format: what Save writes.
PointSaver::Text SavedText(const SaveFormat& format);

// Draws the picture of the points that a PNG holds, on the job's thread;
// nothing once `cancelled` is raised.
using PictureRenderer = std::function<std::optional<QImage>(std::span<const Point>, const std::atomic<bool>* cancelled)>;

// An export's text: SVG and DXF from the points, PNG what `render` draws.
PointSaver::Text ExportText(ExportFormat format, PictureRenderer render = {});

} // namespace kav
