#pragma once

#include "exchange/file_worker.h"
#include "exchange/point_file.h"

#include <atomic>
#include <cstdint>

namespace kav {

// Saves points to a file on a thread of its own, so that neither a large
// figure nor a slow disk or pipe holds up the window. The points are read
// in place: they must not change until the save has ended. The owner waits
// for it in short steps and may cancel it at any time.
class PointSaver : public FileWorker {
public:
    // Starts at once.
    PointSaver(QByteArray path, std::span<const Point> points, const SaveFormat& format);
    // Cancels a save still running and waits for its thread.
    ~PointSaver();

    // Once it has ended: ECANCELED when a cancel came in time to keep the
    // old file.
    FileResult Result() const { return m_result; }

private:
    QByteArray m_path;
    std::span<const Point> m_points;
    SaveFormat m_format;
    FileResult m_result;
};

} // namespace kav
