#include "view/kav_view.h"

#include "res/strings.h"
#include "view/raster.h"
#include "view/user_prompts.h"

#include <QMouseEvent>
#include <QPainter>

#include <optional>

namespace kav {

namespace {

// A redraw longer than this goes on in slices, between which the window
// handles input and shows the picture as far as it has got.
constexpr auto kPaintBudget = std::chrono::milliseconds(50);
constexpr auto kSliceBudget = std::chrono::milliseconds(16);
// Indexing for the join search, while nothing else happens.
constexpr auto kIndexBudget = std::chrono::milliseconds(8);
constexpr std::size_t kIndexStep = 4096;

} // namespace

CKavView::CKavView(CUserPrompts& prompts, QWidget* parent, PointReallocator reallocate)
    : QWidget(parent)
    , m_store(reallocate)
    , m_prompts(prompts)
{
    setObjectName(QStringLiteral("view"));
    setMouseTracking(true); // readouts follow the cursor without a button held
    setAttribute(Qt::WA_OpaquePaintEvent); // every paint covers the whole area
    setCursor(Qt::CrossCursor);
    setAcceptDrops(true);
    m_idle.setInterval(0);
    connect(&m_idle, &QTimer::timeout, this, &CKavView::OnIdle);
}

PointStore& CKavView::Store()
{
    PointsWillChange(0);
    return m_store;
}

void CKavView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        OnLButtonDown(event->position().toPoint());
    QWidget::mousePressEvent(event);
}

void CKavView::mouseMoveEvent(QMouseEvent* event)
{
    OnMouseMove(event->position().toPoint());
    QWidget::mouseMoveEvent(event);
}

// Shows the kept picture, after adding what it lacks, with the end marker
// on top. Drawn at the screen's own density, so that lines stay one device
// pixel wide.
void CKavView::paintEvent(QPaintEvent*)
{
    const qreal scale = devicePixelRatioF();
    m_picture.Resize(qRound(width() * scale), qRound(height() * scale), scale);
    const auto points = m_store.ActivePoints();
    const auto budget = m_drawing ? kSliceBudget : kPaintBudget;
    m_drawing = !m_picture.Update(points, FigurePicture::Clock::now() + budget);

    const Canvas pixels = m_picture.Pixels();
    const QImage image(reinterpret_cast<const uchar*>(pixels.pixels), pixels.width, pixels.height,
                       pixels.stride * qsizetype{sizeof(std::uint32_t)}, QImage::Format_RGB32);
    std::optional<FigurePicture::Marker> marker;
    if (!points.empty())
        marker.emplace(m_picture, points.back());
    QPainter painter(this);
    painter.drawImage(QRectF(rect()), image);
    painter.end();
    if (m_drawing)
        WakeIdle();
}

void CKavView::OnIdle()
{
    if (m_drawing && isVisible()) {
        m_idle.stop(); // the paint starts it again while there is more
        update();
        return;
    }
    const auto points = m_store.ActivePoints();
    const auto deadline = FigurePicture::Clock::now() + kIndexBudget;
    while (!m_joinIndex.IndexMore(points, kIndexStep)) {
        if (FigurePicture::Clock::now() >= deadline)
            return;
    }
    m_idle.stop();
}

void CKavView::PointsWillChange(std::size_t first)
{
    m_picture.Restart();
    m_joinIndex.Forget(m_store.ActivePoints(), first);
    WakeIdle();
}

void CKavView::WakeIdle()
{
    // Restarting a running timer would cost a timer registration per point
    // when points are set up one by one.
    if (!m_idle.isActive())
        m_idle.start();
}

void CKavView::DrawPoints(QImage& image, std::span<const Point> points)
{
    image.fill(FigurePicture::kBackground);
    if (points.empty())
        return;
    const Canvas canvas{reinterpret_cast<std::uint32_t*>(image.bits()), image.width(), image.height(),
                        image.bytesPerLine() / 4};
    DrawPolyline(canvas, points, FigurePicture::kInk);
    DrawEndMarker(canvas, points.back(), FigurePicture::kInk, FigurePicture::kBackground);
}

void CKavView::OnLButtonDown(QPoint at)
{
    if (!FindNearPoint(at.x(), at.y()))
        Append({at.x(), at.y()});
    update();
}

bool CKavView::FindNearPoint(int x, int y)
{
    const auto points = m_store.ActivePoints();
    const std::ptrdiff_t index = m_joinIndex.Find(points, {x, y});
    if (index < 0)
        return false;
    const Point candidate = points[static_cast<std::size_t>(index)];
    if (!m_prompts.AskYesNo(this, ui::kJoinText, ui::kJoinCaption))
        return false;
    // A refused copy is not stored, and the click is not stored either.
    Append(candidate);
    return true;
}

bool CKavView::Append(Point p)
{
    if (!m_store.AppendPoint(p)) {
        m_prompts.Tell(this, ui::kPointRefusedText, ui::kPointRefusedCaption, CUserPrompts::Icon::Warning);
        return false;
    }
    WakeIdle(); // the index takes the point in when the user pauses
    return true;
}

void CKavView::OnMouseMove(QPoint at)
{
    const bool useA = m_store.m_useA;
    Q_EMIT ReadoutsChanged(QString::fromLatin1(ui::kReadoutX).arg(at.x()),
                           QString::fromLatin1(ui::kReadoutY).arg(at.y()),
                           QString::fromUtf8(useA ? ui::kReadoutCountA : ui::kReadoutCountB)
                               .arg(useA ? m_store.m_countA : m_store.m_countB));
}

void CKavView::OnPointsNew()
{
    if (m_store.HasPoints() && m_prompts.AskYesNo(this, ui::kNewText, ui::kNewCaption)) {
        PointsWillChange(0);
        m_store.ClearPoints();
    }
    update();
}

void CKavView::OnUndoPoint()
{
    if (m_store.HasPoints()) {
        const auto before = m_store.ActivePoints();
        m_picture.RemoveLast(before); // only the last segment goes from the picture
        m_joinIndex.Forget(before, before.size() - 1);
        WakeIdle();
    }
    m_store.RemoveLastPoint();
    update();
}

} // namespace kav
