#include "view/kav_view.h"

#include "res/strings.h"
#include "view/geometry.h"
#include "view/raster.h"
#include "view/user_prompts.h"

#include <QMouseEvent>
#include <QPainter>

namespace kav {

namespace {

constexpr QRgb kBackground = 0xFFFFFFFF;
constexpr QRgb kInk = 0xFF000000;

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

void CKavView::paintEvent(QPaintEvent*)
{
    if (m_canvas.size() != size())
        m_canvas = QImage(size(), QImage::Format_RGB32);
    DrawPoints(m_canvas, m_store.ActivePoints());
    QPainter(this).drawImage(0, 0, m_canvas);
}

void CKavView::DrawPoints(QImage& image, std::span<const Point> points)
{
    image.fill(kBackground);
    if (points.empty())
        return;
    const Canvas canvas{reinterpret_cast<std::uint32_t*>(image.bits()), image.width(), image.height(),
                        image.bytesPerLine() / 4};
    DrawPolyline(canvas, points, kInk);
    DrawEndMarker(canvas, points.back(), kInk, kBackground);
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
    const std::ptrdiff_t index = FindNearIndex(points, {x, y});
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
    if (m_store.AppendPoint(p))
        return true;
    m_prompts.Tell(this, ui::kPointRefusedText, ui::kPointRefusedCaption, CUserPrompts::Icon::Warning);
    return false;
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
    if (m_store.HasPoints() && m_prompts.AskYesNo(this, ui::kNewText, ui::kNewCaption))
        m_store.ClearPoints();
    update();
}

void CKavView::OnUndoPoint()
{
    m_store.RemoveLastPoint();
    update();
}

} // namespace kav
