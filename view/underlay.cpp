#include "view/underlay.h"

#include "res/strings.h"

#include <QFileInfo>
#include <QImageReader>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <new>

namespace kav {

namespace {

// The decoded image may take up to the largest underlay's bytes, with
// room for a reader's working copy of a row or two.
constexpr int kAllocationLimitMb = Underlay::kMaxSide / 1024 * Underlay::kMaxSide / 1024 * 4 + 64;

// Half the size: each pixel the mean of the 2 x 2 it covers, channel by
// channel of premultiplied pixels, which keeps edges of transparent parts
// clean. A last odd row or column counts as its own neighbour.
QImage Halved(const QImage& image)
{
    const int width = std::max(1, (image.width() + 1) / 2);
    const int height = std::max(1, (image.height() + 1) / 2);
    QImage half(width, height, image.format());
    if (half.isNull())
        return half;
    for (int y = 0; y < height; ++y) {
        const auto* row0 = reinterpret_cast<const QRgb*>(image.constScanLine(std::min(2 * y, image.height() - 1)));
        const auto* row1 = reinterpret_cast<const QRgb*>(image.constScanLine(std::min(2 * y + 1, image.height() - 1)));
        auto* out = reinterpret_cast<QRgb*>(half.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int x0 = std::min(2 * x, image.width() - 1);
            const int x1 = std::min(2 * x + 1, image.width() - 1);
            const QRgb a = row0[x0], b = row0[x1], c = row1[x0], d = row1[x1];
            const auto mean = [&](int shift) {
                const unsigned sum = ((a >> shift) & 0xFF) + ((b >> shift) & 0xFF) + ((c >> shift) & 0xFF)
                    + ((d >> shift) & 0xFF);
                return ((sum + 2) / 4) << shift;
            };
            out[x] = mean(24) | mean(16) | mean(8) | mean(0);
        }
    }
    return half;
}

} // namespace

bool Underlay::IsImage(const QString& path)
{
    // A pipe or a device would be read here, on the window's thread.
    if (!QFileInfo(path).isFile())
        return false;
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    return reader.canRead();
}

Underlay::Loaded Underlay::Load(const QString& path, const std::atomic<bool>* cancelled)
{
    const auto failed = [](const QString& reason) { return Loaded{nullptr, reason}; };
    if (!QFileInfo(path).isFile())
        return failed(ui::kUnderlayUnreadable);
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true); // a text file named .png is no image
    reader.setAllocationLimit(kAllocationLimitMb);
    if (!reader.canRead())
        return failed(ui::kUnderlayUnreadable);
    // The header's size, before anything is decoded: a bomb ends here.
    const auto tooLarge = [&failed](QSize size) {
        return failed(ui::kUnderlayTooLarge.arg(size.width()).arg(size.height()).arg(kMaxSide));
    };
    const QSize declared = reader.size();
    if (declared.isValid() && (declared.width() > kMaxSide || declared.height() > kMaxSide))
        return tooLarge(declared);
    QImage image;
    try {
        if (!reader.read(&image)) {
            if (declared.isValid() && qint64{declared.width()} * declared.height() * 4 > qint64{kAllocationLimitMb} << 20)
                return failed(ui::kUnderlayNoMemory);
            return failed(reader.error() == QImageReader::UnsupportedFormatError ? ui::kUnderlayUnreadable
                                                                                  : ui::kUnderlayBroken);
        }
        if (image.width() > kMaxSide || image.height() > kMaxSide)
            return tooLarge(image.size());
        auto underlay = FromImage(std::move(image), cancelled);
        if (!underlay)
            return failed(cancelled && cancelled->load() ? QString() : ui::kUnderlayNoMemory);
        return {std::move(underlay), {}};
    } catch (const std::bad_alloc&) {
        return failed(ui::kUnderlayNoMemory);
    }
}

std::shared_ptr<const Underlay> Underlay::FromImage(QImage image, const std::atomic<bool>* cancelled)
{
    image = std::move(image).convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                                                      : QImage::Format_RGB32);
    if (image.isNull())
        return nullptr;
    auto underlay = std::make_shared<Underlay>();
    underlay->m_levels.push_back(std::move(image));
    // Down to the smallest scale the view has, or to a pixel.
    while (underlay->Levels() <= -ViewMapping::kMinZoom) {
        const QImage& last = underlay->m_levels.back();
        if ((last.width() == 1 && last.height() == 1) || (cancelled && cancelled->load(std::memory_order_relaxed)))
            break;
        QImage half = Halved(last);
        if (half.isNull())
            return nullptr;
        underlay->m_levels.push_back(std::move(half));
    }
    if (cancelled && cancelled->load(std::memory_order_relaxed))
        return nullptr;
    return underlay;
}

void Underlay::Draw(QPainter& painter, const ViewMapping& mapping, const QRect& area) const
{
    // Zoomed out by 2^k, the copy at 2^-k shows one of its pixels a view
    // pixel; past the smallest copy, or zoomed in, its pixels grow.
    const int level = std::clamp(-mapping.zoom, 0, Levels() - 1);
    const QImage& image = Level(level);
    const double unitsPerPixel = std::ldexp(1.0, level); // figure units in a pixel of this copy
    const double viewPerUnit = mapping.Scale();
    // The copy's pixels that the area shows.
    const double left = (static_cast<double>(mapping.originX) + area.left() / viewPerUnit) / unitsPerPixel;
    const double top = (static_cast<double>(mapping.originY) + area.top() / viewPerUnit) / unitsPerPixel;
    const double right = (static_cast<double>(mapping.originX) + (area.right() + 1) / viewPerUnit) / unitsPerPixel;
    const double bottom = (static_cast<double>(mapping.originY) + (area.bottom() + 1) / viewPerUnit) / unitsPerPixel;
    const int x0 = std::max(0, static_cast<int>(std::floor(std::max(left, -1.0))));
    const int y0 = std::max(0, static_cast<int>(std::floor(std::max(top, -1.0))));
    const int x1 = std::min(image.width(), static_cast<int>(std::ceil(std::min(right, double(image.width())))));
    const int y1 = std::min(image.height(), static_cast<int>(std::ceil(std::min(bottom, double(image.height())))));
    if (x0 >= x1 || y0 >= y1)
        return;
    const double scale = unitsPerPixel * viewPerUnit; // view pixels per pixel of the copy
    const QRectF target((x0 * unitsPerPixel - static_cast<double>(mapping.originX)) * viewPerUnit,
                        (y0 * unitsPerPixel - static_cast<double>(mapping.originY)) * viewPerUnit, (x1 - x0) * scale,
                        (y1 - y0) * scale);
    painter.drawImage(target, image, QRectF(x0, y0, x1 - x0, y1 - y0));
}

} // namespace kav
