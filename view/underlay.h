#pragma once

#include "view/view_mapping.h"

#include <QImage>
#include <QString>

#include <atomic>
#include <memory>
#include <vector>

class QPainter;
class QRect;

namespace kav {

// An image under the figure to trace: one image pixel per unit, its
// top-left corner at (0, 0). Beside the image it keeps a copy at each
// zoomed-out scale, halved from the one before, so that no paint scales the
// whole image. It never changes once made, so threads may share it.
class Underlay {
public:
    static constexpr int kMaxSide = 16384;

    struct Loaded {
        std::shared_ptr<const Underlay> underlay; // nothing when it failed
        QString reason; // why, in Polish
    };
    // Reads the image in `path`, whatever its name says, on any thread.
    // Over kMaxSide a side, unreadable, broken or too large for memory
    // gives the reason and no underlay. A cancel ends it between steps.
    static Loaded Load(const QString& path, const std::atomic<bool>* cancelled = nullptr);
    // The underlay of an image already read, with its copies; nothing when
    // memory ran out or `cancelled` was raised.
    static std::shared_ptr<const Underlay> FromImage(QImage image, const std::atomic<bool>* cancelled = nullptr);
    // Whether the file is a regular file whose content an image reader
    // recognises.
    static bool IsImage(const QString& path);

    QSize Size() const { return m_levels.front().size(); }
    int Levels() const { return static_cast<int>(m_levels.size()); }
    const QImage& Level(int level) const { return m_levels[static_cast<std::size_t>(level)]; }

    // Draws the part that lies in `area` of the view (logical pixels) as
    // `mapping` shows the figure, from the copy made for that scale.
    void Draw(QPainter& painter, const ViewMapping& mapping, const QRect& area) const;

private:
    std::vector<QImage> m_levels; // level k: the image at 2^-k
};

} // namespace kav
