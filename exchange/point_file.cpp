#include "exchange/point_file.h"

#include "exchange/file_errors.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <ostream>
#include <streambuf>

namespace kav {

namespace {

// A std::ostream onto a QIODevice: the writer fills large blocks itself, so
// this passes them straight on.
class DeviceStreamBuf final : public std::streambuf {
public:
    explicit DeviceStreamBuf(QIODevice& device)
        : m_device(device)
    {
    }

protected:
    std::streamsize xsputn(const char* data, std::streamsize size) override
    {
        const qint64 written = m_device.write(data, size);
        return written < 0 ? 0 : static_cast<std::streamsize>(written);
    }
    int_type overflow(int_type c) override
    {
        if (traits_type::eq_int_type(c, traits_type::eof()))
            return traits_type::not_eof(c);
        const char byte = traits_type::to_char_type(c);
        return m_device.write(&byte, 1) == 1 ? c : traits_type::eof();
    }

private:
    QIODevice& m_device;
};

} // namespace

bool WritePointsTo(QIODevice& device, std::span<const Point> points, const SaveFormat& format)
{
    DeviceStreamBuf buffer(device);
    std::ostream out(&buffer);
    return WritePoints(out, points, format);
}

QString SavePointsToFile(const QString& path, std::span<const Point> points, const SaveFormat& format)
{
    const QFileInfo info(path);
    if (info.isDir())
        return WriteErrorReason(QFile(path), path);

    // A device or a pipe cannot be replaced, only written to.
    if (info.exists() && !info.isFile()) {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || !WritePointsTo(file, points, format)
            || !file.flush())
            return WriteErrorReason(file, path);
        file.close();
        return file.error() == QFileDevice::NoError ? QString() : WriteErrorReason(file, path);
    }

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return WriteErrorReason(file, path);
    if (!WritePointsTo(file, points, format)) {
        const QString reason = WriteErrorReason(file, path);
        file.cancelWriting();
        return reason;
    }
    if (!file.commit())
        return WriteErrorReason(file, path);
    return {};
}

LoadResult LoadPointsFrom(QFile& file, PointStore& into, const LoadProgress& progress)
{
    bool tooMany = false;
    PointScanner scanner([&](std::span<const Point> pairs) {
        tooMany = !into.AppendPoints(pairs);
        return !tooMany;
    });
    const std::span<char> buffer = scanner.Buffer();
    qint64 done = 0;
    for (;;) {
        const qint64 got = file.read(buffer.data(), static_cast<qint64>(buffer.size()));
        if (got < 0)
            return {LoadStatus::ReadFailed, ReadErrorReason(file)};
        if (got == 0)
            break;
        done += got;
        if (!scanner.Feed(static_cast<std::size_t>(got)))
            break;
        if (progress && !progress(done))
            return {LoadStatus::Cancelled, {}};
    }
    if (!tooMany)
        scanner.Finish();
    return {tooMany ? LoadStatus::TooMany : LoadStatus::Loaded, {}};
}

} // namespace kav
