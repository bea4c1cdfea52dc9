#pragma once

#include "exchange/coordinate_format.h"

#include <QString>

#include <functional>

class QFile;
class QIODevice;

namespace kav {

// Writes the points as text to `device`. False after a write error.
bool WritePointsTo(QIODevice& device, std::span<const Point> points, const SaveFormat& format);

// Saves the points to `path`. A regular file is replaced atomically: the new
// one appears only complete, and after a failure the old one is as it was.
// Returns an empty string on success, otherwise the reason, in Polish.
QString SavePointsToFile(const QString& path, std::span<const Point> points, const SaveFormat& format);

enum class LoadStatus {
    Loaded,
    ReadFailed, // the file failed part way
    TooMany, // more points than a store can hold, or no memory for them
    Cancelled,
};

struct LoadResult {
    LoadStatus status = LoadStatus::Loaded;
    QString reason; // for ReadFailed
};

// Told the bytes read so far; returns false to cancel.
using LoadProgress = std::function<bool(qint64 done)>;

// Reads every pair of the opened `file` into `into`, appending in file order.
LoadResult LoadPointsFrom(QFile& file, PointStore& into, const LoadProgress& progress = {});

} // namespace kav
