#pragma once

// Reading and writing point files through the system's own calls, so that
// every failure comes with the system's error number (see file_errors.h).
// File names are the file system's bytes: QFile::encodeName of a dialog's
// path, or a command-line argument as given.

#include "exchange/coordinate_format.h"

#include <QByteArray>

#include <utility>

namespace kav {

// An open file descriptor, closed with the object.
class FileHandle {
public:
    FileHandle() = default;
    explicit FileHandle(int fd)
        : m_fd(fd)
    {
    }
    FileHandle(FileHandle&& other) noexcept
        : m_fd(std::exchange(other.m_fd, -1))
    {
    }
    FileHandle& operator=(FileHandle&& other) noexcept;
    ~FileHandle();

    int Get() const { return m_fd; }
    // Closes now; 0, or the error number that closing gave.
    int Close();
    bool IsOpen() const { return m_fd >= 0; }
    // The size of a regular file; -1 for a device, a pipe or anything else
    // whose size says nothing of what it will give.
    qint64 KnownSize() const;

private:
    int m_fd = -1;
};

// Opens `path` for reading without waiting on it: a pipe that has no writer
// or a device that is slow to open does not hold up the caller. A folder is
// refused with EISDIR. On failure the handle is closed and `error` set.
FileHandle OpenForReading(const QByteArray& path, int& error);

// Writes the points as text to `fd`. Returns 0, or the error number of the
// write that failed.
int WritePointsTo(int fd, std::span<const Point> points, const SaveFormat& format);

// Saves the points to `path`. A regular file is replaced atomically: the new
// one appears only complete and on disk, and after a failure the old one is
// as it was. A device or a pipe is written to in place. Returns 0, or the
// error number of the step that failed.
int SavePointsToFile(const QByteArray& path, std::span<const Point> points, const SaveFormat& format);

} // namespace kav
