#pragma once

// Reading and writing point files through the system's own calls, so that
// every failure comes with the system's error number (see file_errors.h).
// File names are the file system's bytes: QFile::encodeName of a dialog's
// path, or a command-line argument as given.

#include "exchange/coordinate_format.h"
#include "exchange/file_result.h"
#include "exchange/system_calls.h"

#include <QByteArray>

#include <atomic>
#include <cstdint>
#include <functional>
#include <ostream>
#include <utility>

namespace kav {

// An open file descriptor, closed with the object.
class FileHandle : public sys::Fd {
public:
    using Fd::Fd;

    // Closes now; a network file may report a late write error here.
    FileResult Close();
    // The size of a regular file; -1 for a device, a pipe or anything else
    // whose size says nothing of what it will give.
    qint64 KnownSize() const;
};

// Opens `path` for reading without waiting on it: a pipe that has no writer
// or a device that is slow to open does not hold up the caller. A folder is
// refused with EISDIR. On failure `file` stays closed.
FileResult OpenForReading(const QByteArray& path, FileHandle& file);

// Writes the points as text to `fd`. A cancel, seen before every block and
// while waiting for room, ends it with ECANCELED.
FileResult WritePointsTo(int fd, std::span<const Point> points, const SaveFormat& format,
                         const FileJobControl& control = {});

// Writes a whole file's text to `out`, which is unbuffered: the writer
// fills large blocks itself. False once a write failed.
using TextWriter = std::function<bool(std::ostream& out)>;

// The points' text in `format`; `control.points` counts the points written.
TextWriter PointsText(std::span<const Point> points, const SaveFormat& format, const FileJobControl& control);

// Writes `write`'s text to `fd`, as WritePointsTo does.
FileResult WriteTextTo(int fd, const TextWriter& write, const FileJobControl& control = {});

// Saves `write`'s text to `path` as SavePointsToFile saves points.
FileResult SaveTextToFile(const QByteArray& path, const TextWriter& write, const FileJobControl& control = {});

// Saves the points to `path`. A regular file is replaced atomically: the new
// one appears only complete and on disk, and after a failure the old one is
// as it was. A file that the user may not write is refused with EACCES,
// although the folder would let it be replaced. A device or a pipe is
// written to in place.
//
// The new file is written beside the old one under a name that carries this
// process's tag (WriterTag), and each save removes what writers that are no
// longer running left in that folder. A cancel before the rename ends it
// with ECANCELED and leaves the old file and no temporary one; a device or
// a pipe keeps what it was given until then.
FileResult SavePointsToFile(const QByteArray& path, std::span<const Point> points, const SaveFormat& format,
                            const FileJobControl& control = {});

// What names this process's temporary files: the boot, the process id and
// its start time, so that a later run can tell whether their writer lives.
const QByteArray& WriterTag();

} // namespace kav
