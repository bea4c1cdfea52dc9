#include "exchange/point_file.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ostream>
#include <streambuf>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kav {

namespace {

// How long a write to a device or a pipe may wait for room before it fails:
// a pipe whose reader has stopped reading must not hold up the window.
constexpr int kWriteWaitMs = 10000;

// A std::ostream onto a file descriptor that remembers why a write failed.
// The writer fills large blocks itself, so they go straight to write().
class FdStreamBuf final : public std::streambuf {
public:
    explicit FdStreamBuf(int fd)
        : m_fd(fd)
    {
    }
    int Error() const { return m_error; }

protected:
    std::streamsize xsputn(const char* data, std::streamsize size) override
    {
        std::streamsize done = 0;
        while (done < size && m_error == 0) {
            const ssize_t written = ::write(m_fd, data + done, static_cast<std::size_t>(size - done));
            if (written >= 0)
                done += written;
            else if (errno == EAGAIN)
                WaitForRoom();
            else if (errno != EINTR)
                m_error = errno;
        }
        return done;
    }
    int_type overflow(int_type c) override
    {
        if (traits_type::eq_int_type(c, traits_type::eof()))
            return traits_type::not_eof(c);
        const char byte = traits_type::to_char_type(c);
        return xsputn(&byte, 1) == 1 ? c : traits_type::eof();
    }

private:
    void WaitForRoom()
    {
        pollfd wait{m_fd, POLLOUT, 0};
        const int ready = ::poll(&wait, 1, kWriteWaitMs);
        if (ready == 0)
            m_error = ETIMEDOUT;
        else if (ready < 0 && errno != EINTR)
            m_error = errno;
    }

    int m_fd;
    int m_error = 0;
};

int CurrentUmask()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return static_cast<int>(mask);
}

// A device or a pipe cannot be replaced, only written to; without waiting,
// so that a pipe with no reader fails at once instead of hanging.
int WriteInPlace(const QByteArray& path, std::span<const Point> points, const SaveFormat& format)
{
    FileHandle file(::open(path.constData(), O_WRONLY | O_TRUNC | O_NONBLOCK | O_CLOEXEC));
    if (!file.IsOpen())
        return errno;
    const int error = WritePointsTo(file.Get(), points, format);
    const int closed = file.Close();
    return error != 0 ? error : closed;
}

} // namespace

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept
{
    if (this != &other) {
        Close();
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

FileHandle::~FileHandle()
{
    Close();
}

int FileHandle::Close()
{
    if (m_fd < 0)
        return 0;
    const int result = ::close(std::exchange(m_fd, -1));
    return result == 0 || errno == EINTR ? 0 : errno;
}

qint64 FileHandle::KnownSize() const
{
    struct stat info { };
    if (::fstat(m_fd, &info) != 0 || !S_ISREG(info.st_mode))
        return -1;
    return static_cast<qint64>(info.st_size);
}

FileHandle OpenForReading(const QByteArray& path, int& error)
{
    FileHandle file(::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!file.IsOpen()) {
        error = errno;
        return {};
    }
    struct stat info { };
    if (::fstat(file.Get(), &info) != 0) {
        error = errno;
        return {};
    }
    if (S_ISDIR(info.st_mode)) {
        error = EISDIR;
        return {};
    }
    // Reads may wait again; the reader polls before each one.
    const int flags = ::fcntl(file.Get(), F_GETFL);
    if (flags < 0 || ::fcntl(file.Get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
        error = errno;
        return {};
    }
    return file;
}

int WritePointsTo(int fd, std::span<const Point> points, const SaveFormat& format)
{
    FdStreamBuf buffer(fd);
    std::ostream out(&buffer);
    if (WritePoints(out, points, format))
        return 0;
    return buffer.Error() != 0 ? buffer.Error() : EIO;
}

int SavePointsToFile(const QByteArray& path, std::span<const Point> points, const SaveFormat& format)
{
    struct stat info { };
    const bool exists = ::stat(path.constData(), &info) == 0;
    if (!exists && errno != ENOENT)
        return errno;
    if (exists && S_ISDIR(info.st_mode))
        return EISDIR;
    if (exists && !S_ISREG(info.st_mode))
        return WriteInPlace(path, points, format);

    // Through a link to the file it names, so that the link stays a link.
    QByteArray target = path;
    if (exists) {
        char resolved[PATH_MAX];
        if (::realpath(path.constData(), resolved) == nullptr)
            return errno;
        target = resolved;
    }
    // The new file is written beside the old one and renamed over it.
    const qsizetype slash = target.lastIndexOf('/');
    const QByteArray folder = slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : target.left(slash);
    QByteArray temporary = folder + "/." + target.mid(slash + 1) + ".kav-XXXXXX";
    FileHandle file(::mkostemp(temporary.data(), O_CLOEXEC));
    if (!file.IsOpen())
        return errno;
    // The new file takes the old one's permissions, or the usual ones.
    ::fchmod(file.Get(), exists ? (info.st_mode & 07777) : (0666 & ~CurrentUmask()));

    int error = WritePointsTo(file.Get(), points, format);
    if (error == 0 && ::fsync(file.Get()) != 0)
        error = errno;
    const int closed = file.Close(); // a network file may report a late write error here
    if (error == 0)
        error = closed;
    if (error == 0 && ::rename(temporary.constData(), target.constData()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(temporary.constData());
        return error;
    }
    // The rename itself is on disk once the folder is.
    FileHandle directory(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.IsOpen())
        ::fsync(directory.Get());
    return 0;
}

} // namespace kav
