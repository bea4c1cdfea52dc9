#include "exchange/point_file.h"

#include "exchange/system_calls.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <ostream>
#include <sstream>
#include <streambuf>
#include <string>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kav {

namespace {

// How long a write to a device or a pipe may wait for room before it fails:
// a pipe whose reader has stopped reading must not hold up the window.
constexpr int kWriteWaitMs = 10000;
// Points per call of the writer, so that the progress counts points.
constexpr std::size_t kPointsPerBlock = std::size_t{1} << 20;

// A std::ostream onto a file descriptor that remembers why a write failed.
// The writer fills large blocks itself, so they go straight to write().
class FdStreamBuf final : public std::streambuf {
public:
    FdStreamBuf(int fd, const FileJobControl& control)
        : m_fd(fd)
        , m_control(control)
    {
    }
    int Error() const { return m_error; }

protected:
    std::streamsize xsputn(const char* data, std::streamsize size) override
    {
        std::streamsize done = 0;
        while (done < size && m_error == 0) {
            if (m_control.Cancelled()) {
                m_error = ECANCELED;
                break;
            }
            const ssize_t written = sys::Write(m_fd, data + done, static_cast<std::size_t>(size - done));
            if (written == 0) {
                m_error = EIO; // nothing written, and no reason given
            } else if (written > 0) {
                done += written;
                if (m_control.bytes != nullptr)
                    *m_control.bytes += written;
            } else if (errno == EAGAIN)
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
    // Up to the stall limit; a cancel ends the wait at once.
    void WaitForRoom()
    {
        switch (sys::WaitForFd(m_fd, POLLOUT, m_control.cancelFd, kWriteWaitMs)) {
        case sys::Waited::Ready:
        case sys::Waited::Cancelled: // the next round sees the flag
            return;
        case sys::Waited::TimedOut:
            m_error = ETIMEDOUT;
            return;
        case sys::Waited::Failed:
            m_error = errno;
            return;
        }
    }

    int m_fd;
    const FileJobControl& m_control;
    int m_error = 0;
};

// A device or a pipe cannot be replaced, only written to; without waiting,
// so that a pipe with no reader fails at once instead of hanging.
FileResult WriteInPlace(const QByteArray& path, const TextWriter& write, const FileJobControl& control)
{
    FileHandle file(sys::Open(path.constData(), O_WRONLY | O_TRUNC | O_NONBLOCK | O_CLOEXEC));
    if (!file.IsOpen())
        return FileResult::FromErrno(FileStep::OpenForWriting);
    const FileResult written = WriteTextTo(file.Get(), write, control);
    const FileResult closed = file.Close();
    return written.Ok() ? closed : written;
}

// Renaming over a file needs only the folder's permission; the file's own
// says whether the user meant it to be written. No write bit at all counts
// even for root, who passes every access() check.
bool MayWrite(const QByteArray& path, const struct stat& info)
{
    return (info.st_mode & 0222) != 0 && ::access(path.constData(), W_OK) == 0;
}

std::string FirstLine(const char* path)
{
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

// The start time of process `pid` in clock ticks since boot, or empty.
std::string StartTime(const std::string& pid)
{
    const std::string stat = FirstLine(("/proc/" + pid + "/stat").c_str());
    // The fields after the command name, which may hold anything, ")" too.
    const std::size_t end = stat.rfind(')');
    if (end == std::string::npos)
        return {};
    std::istringstream fields(stat.substr(end + 1));
    std::string field;
    for (int number = 3; number <= 22; ++number) // the start time is field 22
        fields >> field;
    return fields ? field : std::string();
}

std::string BootTag()
{
    return FirstLine("/proc/sys/kernel/random/boot_id").substr(0, 8);
}

constexpr char kTagMark[] = ".kav-";

// Whether `name` is a temporary file of ours whose writer no longer runs:
// ".<file>.kav-<boot>.<pid>.<start>-XXXXXX".
bool LeftBehind(const std::string& name)
{
    const std::size_t mark = name.rfind(kTagMark);
    const std::size_t dash = name.rfind('-');
    if (name.empty() || name[0] != '.' || mark == std::string::npos || dash + 7 != name.size()
        || dash < mark + sizeof kTagMark)
        return false;
    const std::string tag = name.substr(mark + sizeof kTagMark - 1, dash - mark - (sizeof kTagMark - 1));
    const std::size_t dot1 = tag.find('.');
    const std::size_t dot2 = tag.find('.', dot1 + 1);
    if (dot1 == std::string::npos || dot2 == std::string::npos)
        return false;
    const std::string pid = tag.substr(dot1 + 1, dot2 - dot1 - 1);
    if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos)
        return false;
    if (tag.substr(0, dot1) != BootTag())
        return true; // written before the last boot
    const std::string start = StartTime(pid);
    return start.empty() || start != tag.substr(dot2 + 1);
}

// Removes what dead writers left in `folder`: only regular files of this
// user whose names say they are ours.
void RemoveLeftovers(const QByteArray& folder)
{
    DIR* dir = ::opendir(folder.constData());
    if (dir == nullptr)
        return;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (!LeftBehind(name))
            continue;
        struct stat info { };
        if (::fstatat(::dirfd(dir), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode)
            && info.st_uid == ::geteuid())
            (void)::unlinkat(::dirfd(dir), name.c_str(), 0);
    }
    ::closedir(dir);
}

} // namespace

FileResult FileHandle::Close()
{
    const int fd = Release();
    if (fd < 0)
        return {};
    const int result = sys::Close(fd);
    return result == 0 || errno == EINTR ? FileResult{} : FileResult::FromErrno(FileStep::Close);
}

qint64 FileHandle::KnownSize() const
{
    struct stat info { };
    if (::fstat(Get(), &info) != 0 || !S_ISREG(info.st_mode))
        return -1;
    return static_cast<qint64>(info.st_size);
}

FileResult OpenForReading(const QByteArray& path, FileHandle& file)
{
    FileHandle opened(sys::Open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!opened.IsOpen())
        return FileResult::FromErrno(FileStep::OpenForReading);
    struct stat info { };
    if (::fstat(opened.Get(), &info) != 0)
        return FileResult::FromErrno(FileStep::OpenForReading);
    if (S_ISDIR(info.st_mode))
        return FileResult::Failed(FileStep::OpenForReading, EISDIR);
    // Reads may wait again; the reader polls before each one.
    const int flags = ::fcntl(opened.Get(), F_GETFL);
    if (flags < 0 || ::fcntl(opened.Get(), F_SETFL, flags & ~O_NONBLOCK) != 0)
        return FileResult::FromErrno(FileStep::OpenForReading);
    file = std::move(opened);
    return {};
}

// The blocks' texts joined by the point separator are the whole text.
TextWriter PointsText(std::span<const Point> points, const SaveFormat& format, const FileJobControl& control)
{
    return [points, &format, &control](std::ostream& out) {
        const std::size_t n = points.size();
        const bool reverse = format.m_order != SaveFormat::kClickOrder;
        for (std::size_t done = 0; done < n;) {
            const std::size_t count = std::min(kPointsPerBlock, n - done);
            if (done > 0)
                out.put(format.m_sepY);
            if (!WritePoints(out, points.subspan(reverse ? n - done - count : done, count), format))
                return false;
            done += count;
            if (control.points != nullptr)
                *control.points = static_cast<std::int64_t>(done);
        }
        return true;
    };
}

FileResult WriteTextTo(int fd, const TextWriter& write, const FileJobControl& control)
{
    FdStreamBuf buffer(fd, control);
    std::ostream out(&buffer);
    if (write(out) && out)
        return {};
    const int error = buffer.Error() != 0 ? buffer.Error() : control.Cancelled() ? ECANCELED : EIO;
    return FileResult::Failed(FileStep::Write, error);
}

FileResult WritePointsTo(int fd, std::span<const Point> points, const SaveFormat& format, const FileJobControl& control)
{
    return WriteTextTo(fd, PointsText(points, format, control), control);
}

const QByteArray& WriterTag()
{
    static const QByteArray tag = QByteArray::fromStdString(BootTag()) + '.' + QByteArray::number(::getpid()) + '.'
        + QByteArray::fromStdString(StartTime(std::to_string(::getpid())));
    return tag;
}

FileResult SavePointsToFile(const QByteArray& path, std::span<const Point> points, const SaveFormat& format,
                            const FileJobControl& control)
{
    return SaveTextToFile(path, PointsText(points, format, control), control);
}

FileResult SaveTextToFile(const QByteArray& path, const TextWriter& write, const FileJobControl& control)
{
    struct stat info { };
    const bool exists = ::stat(path.constData(), &info) == 0;
    if (!exists && errno != ENOENT)
        return FileResult::FromErrno(FileStep::OpenForWriting);
    if (exists && S_ISDIR(info.st_mode))
        return FileResult::Failed(FileStep::OpenForWriting, EISDIR);
    if (exists && !S_ISREG(info.st_mode))
        return WriteInPlace(path, write, control);
    if (exists && !MayWrite(path, info))
        return FileResult::Failed(FileStep::OpenForWriting, EACCES);

    // Through a link to the file it names, so that the link stays a link.
    QByteArray target = path;
    if (exists) {
        char resolved[PATH_MAX];
        if (::realpath(path.constData(), resolved) == nullptr)
            return FileResult::FromErrno(FileStep::OpenForWriting);
        target = resolved;
    }
    // The new file is written beside the old one and renamed over it.
    const qsizetype slash = target.lastIndexOf('/');
    const QByteArray folder = slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : target.left(slash);
    RemoveLeftovers(folder);
    QByteArray temporary = folder + "/." + target.mid(slash + 1) + kTagMark + WriterTag() + "-XXXXXX";
    FileHandle file(sys::Mkostemp(temporary.data(), O_CLOEXEC));
    if (!file.IsOpen())
        return FileResult::FromErrno(FileStep::OpenForWriting);
    // The new file takes the old one's permissions, or the usual ones.
    FileResult result;
    if (sys::Fchmod(file.Get(), exists ? (info.st_mode & 07777) : (0666 & ~sys::StartUmask())) != 0)
        result = FileResult::FromErrno(FileStep::OpenForWriting);
    if (result.Ok())
        result = WriteTextTo(file.Get(), write, control);
    if (result.Ok() && sys::Fsync(file.Get()) != 0)
        result = FileResult::FromErrno(FileStep::Sync);
    // The last moment at which a cancel still keeps the old file.
    if (result.Ok() && control.Cancelled())
        result = FileResult::Failed(FileStep::Write, ECANCELED);
    const FileResult closed = file.Close();
    if (result.Ok())
        result = closed;
    if (result.Ok() && sys::Rename(temporary.constData(), target.constData()) != 0)
        result = FileResult::FromErrno(FileStep::Rename);
    if (!result.Ok()) {
        sys::Unlink(temporary.constData());
        return result;
    }
    // The rename itself is on disk once the folder is; the new file is in
    // place, but a power cut could still take it back.
    return sys::SyncFolder(folder.toStdString());
}

} // namespace kav
