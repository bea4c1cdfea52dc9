#include "view/kav_view.h"

#include "res/strings.h"
#include "view/raster.h"
#include "view/underlay.h"
#include "view/user_prompts.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWheelEvent>
#include <QtMath>

#include <algorithm>
#include <optional>
#include <utility>

namespace kav {

namespace {

// A redraw longer than this goes on in slices, between which the window
// handles input and shows the picture as far as it has got.
constexpr auto kPaintBudget = std::chrono::milliseconds(50);
constexpr auto kSliceBudget = std::chrono::milliseconds(16);
// The first paint after a zoom or a pan, which shows the last picture moved
// when the new one takes longer.
constexpr auto kMoveBudget = std::chrono::milliseconds(4);
// Indexing for the join search, while nothing else happens.
constexpr auto kIndexBudget = std::chrono::milliseconds(8);
constexpr std::size_t kIndexStep = 4096;
// More points than this still to index go to the worker; fewer take a
// few slices.
constexpr std::size_t kIndexOnWorker = std::size_t{1} << 18;

// The keyboard cursor: a crosshair whose arms leave the point itself clear,
// in a colour that the figure never has.
constexpr int kCrossGap = 3;
constexpr int kCrossArm = 8;
constexpr QRgb kCrossColour = 0x0050D0;
constexpr int kBigStep = 10; // with Shift
// View pixels per notch of the wheel.
constexpr int kWheelStep = 40;
constexpr int kWheelNotch = 120;
// The origin stays where figure coordinates and the rasteriser's products
// keep well within 64 bits.
constexpr std::int64_t kOriginLimit = std::int64_t{1} << 40;

QPoint CenterOf(const QWidget& widget)
{
    return {widget.width() / 2, widget.height() / 2};
}

QString Percent(int zoom)
{
    return QLocale().toString(std::ldexp(100.0, zoom), 'g', 6);
}

// A picture's pixels as an image, not copied.
QImage ImageOf(FigurePicture& picture)
{
    const Canvas pixels = picture.Pixels();
    return QImage(reinterpret_cast<const uchar*>(pixels.pixels), pixels.width, pixels.height,
                  pixels.stride * qsizetype{sizeof(std::uint32_t)}, QImage::Format_RGB32);
}

QRect CrossRect(QPoint at)
{
    return QRect(at - QPoint(kCrossArm, kCrossArm), QSize(2 * kCrossArm + 1, 2 * kCrossArm + 1));
}

} // namespace

CKavView::CKavView(CUserPrompts& prompts, QWidget* parent, PointReallocator reallocate)
    : QWidget(parent)
    , m_document(reallocate)
    , m_prompts(prompts)
    , m_indexWorker(m_joinIndex)
    , m_describe([this](const PointChange&, std::span<const Point> after) {
        setAccessibleDescription(ui::kViewDescription.arg(after.size()));
    })
    , m_repaint([this](const PointChange& change, std::span<const Point>) {
        WakeIdle(); // the picture and the index catch up between events
        update();
        using Kind = PointChange::Kind;
        if (change.kind == Kind::ReplaceAll || change.kind == Kind::AppendAll || change.kind == Kind::Recovered)
            QMetaObject::invokeMethod(this, &CKavView::FitIfOutside, Qt::QueuedConnection);
    })
    , m_zoomIn(new QAction(ui::kMenuZoomIn, this))
    , m_zoomOut(new QAction(ui::kMenuZoomOut, this))
    , m_fit(new QAction(ui::kMenuFit, this))
    , m_actualSize(new QAction(ui::kMenuActualSize, this))
{
    m_zoomIn->setShortcut(QKeySequence::ZoomIn);
    m_zoomOut->setShortcut(QKeySequence::ZoomOut);
    m_fit->setShortcut(Qt::Key_F);
    m_fit->setShortcutContext(Qt::WidgetShortcut); // F is a letter: only while the view has the focus
    m_actualSize->setShortcut(Qt::CTRL | Qt::Key_0);
    for (QAction* action : ZoomActions()) {
        if (action != m_fit)
            action->setShortcutContext(Qt::WindowShortcut);
        addAction(action);
    }
    connect(m_zoomIn, &QAction::triggered, this, &CKavView::OnZoomIn);
    connect(m_zoomOut, &QAction::triggered, this, &CKavView::OnZoomOut);
    connect(m_fit, &QAction::triggered, this, &CKavView::OnFitToWindow);
    connect(m_actualSize, &QAction::triggered, this, &CKavView::OnActualSize);
    using Slot = PointDocument::Slot;
    m_document.SetObserver(Slot::Picture, &m_picture);
    m_document.SetObserver(Slot::JoinIndex, &m_indexWorker);
    m_document.SetObserver(Slot::Description, &m_describe);
    m_document.SetObserver(Slot::Repaint, &m_repaint);
    m_document.AddReader(&m_indexWorker);
    setObjectName(QStringLiteral("view"));
    setMouseTracking(true); // readouts follow the cursor without a button held
    setAttribute(Qt::WA_OpaquePaintEvent); // every paint covers the whole area
    setCursor(Qt::CrossCursor);
    setAcceptDrops(true);
    setFocusPolicy(Qt::StrongFocus); // Tab and a click reach it: drawing by keyboard
    setAccessibleName(ui::kViewName);
    setAccessibleDescription(ui::kViewDescription.arg(0));
    m_idle.setInterval(0);
    connect(&m_idle, &QTimer::timeout, this, &CKavView::OnIdle);
    m_commands.SetRules([this] { return m_document.Settled(); }, [] { QApplication::beep(); });
    m_commands.AddEndedHandler(this, [this] { Q_EMIT CommandsEnded(); });
}

CKavView::~CKavView()
{
    m_commands.RemoveEndedHandlers(this);
    m_document.EndLeases(); // before a reader can post to a view half gone
}

void CKavView::OnShowCoords()
{
    const CommandScope scope = BeginCommand();
    if (!scope)
        return;
    // The listing reads the points, on its index's thread too, until it
    // closes; a change that would disturb them closes it first.
    struct ListingLease final : PointReader {
        std::span<const Point> points;
        CUserPrompts* prompts;
        std::span<const Point> Leased() const override { return points; }
        void EndLease() override
        {
            points = {};
            prompts->CloseListing();
        }
    } lease;
    lease.points = m_document.Points();
    lease.prompts = &m_prompts;
    m_document.AddReader(&lease);
    m_prompts.ShowListing(this, lease.points, {width() / 2, height() / 2});
    m_document.RemoveReader(&lease);
}

void CKavView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        OnLButtonDown(event->position().toPoint());
    else if (event->button() == Qt::MiddleButton)
        m_handAt = event->position().toPoint();
    QWidget::mousePressEvent(event);
}

void CKavView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::MiddleButton)
        m_handAt.reset();
    QWidget::mouseReleaseEvent(event);
}

void CKavView::wheelEvent(QWheelEvent* event)
{
    QPoint delta = event->angleDelta();
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    if (modifiers & Qt::ControlModifier) {
        if (delta.y() != 0)
            ZoomAt(event->position().toPoint(), delta.y() > 0 ? 1 : -1);
    } else {
        if ((modifiers & Qt::ShiftModifier) && delta.x() == 0)
            delta = QPoint(delta.y(), 0);
        PanBy(delta * kWheelStep / kWheelNotch);
    }
    event->accept();
}

void CKavView::contextMenuEvent(QContextMenuEvent* event)
{
    // Not exec(): the window's own loop runs the menu.
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addActions(ZoomActions());
    if (!m_contextActions.isEmpty()) {
        menu->addSeparator();
        menu->addActions(m_contextActions);
    }
    menu->popup(event->globalPos());
}

QList<QAction*> CKavView::ZoomActions() const
{
    return {m_zoomIn, m_zoomOut, m_fit, m_actualSize};
}

std::optional<Point> CKavView::FigureAt(QPoint at) const
{
    const std::int64_t x = m_mapping.FigureX(at.x());
    const std::int64_t y = m_mapping.FigureY(at.y());
    if (x != static_cast<std::int32_t>(x) || y != static_cast<std::int32_t>(y))
        return std::nullopt;
    return Point{static_cast<std::int32_t>(x), static_cast<std::int32_t>(y)};
}

void CKavView::SetMapping(const ViewMapping& wanted)
{
    ViewMapping mapping = wanted;
    mapping.zoom = std::clamp(mapping.zoom, ViewMapping::kMinZoom, ViewMapping::kMaxZoom);
    mapping.originX = std::clamp(mapping.originX, -kOriginLimit, kOriginLimit);
    mapping.originY = std::clamp(mapping.originY, -kOriginLimit, kOriginLimit);
    if (mapping == m_mapping)
        return;
    if (mapping.zoom != m_mapping.zoom)
        m_panRest = {};
    // The last complete picture stands in until the new one is drawn.
    if (PictureComplete() && m_picture.Mapping() == m_mapping) {
        m_provisional = PictureImage().copy();
        m_provisionalMapping = m_mapping;
    }
    m_mapping = mapping;
    update();
    if (m_mouseAt || m_keyCursor)
        OnMouseMove(m_keyCursor.value_or(*m_mouseAt)); // another figure point lies there now
}

void CKavView::TellZoom(const QString& text)
{
    Q_EMIT Notice(text.arg(Percent(m_mapping.zoom)));
}

void CKavView::ZoomAt(QPoint at, int steps)
{
    const int zoom = std::clamp(m_mapping.zoom + steps, ViewMapping::kMinZoom, ViewMapping::kMaxZoom);
    if (zoom == m_mapping.zoom)
        return;
    // The figure unit under `at` stays under it.
    ViewMapping mapping{zoom, 0, 0};
    mapping.originX = m_mapping.FigureX(at.x()) - mapping.ToFigure(at.x());
    mapping.originY = m_mapping.FigureY(at.y()) - mapping.ToFigure(at.y());
    SetMapping(mapping);
    TellZoom(ui::kZoomText);
}

void CKavView::PanBy(QPoint pixels)
{
    if (pixels.isNull())
        return;
    // Zoomed in, a unit is several pixels: what falls short of one waits
    // for the next move.
    const QPoint total = pixels + m_panRest;
    ViewMapping mapping = m_mapping;
    const std::int64_t unitsX = mapping.ToFigure(total.x());
    const std::int64_t unitsY = mapping.ToFigure(total.y());
    m_panRest = total - QPoint(static_cast<int>(mapping.ToView(unitsX)), static_cast<int>(mapping.ToView(unitsY)));
    mapping.originX -= unitsX;
    mapping.originY -= unitsY;
    SetMapping(mapping);
}

void CKavView::OnZoomIn()
{
    ZoomAt(m_keyCursor.value_or(m_mouseAt && rect().contains(*m_mouseAt) ? *m_mouseAt : CenterOf(*this)), 1);
}

void CKavView::OnZoomOut()
{
    ZoomAt(m_keyCursor.value_or(m_mouseAt && rect().contains(*m_mouseAt) ? *m_mouseAt : CenterOf(*this)), -1);
}

void CKavView::OnFitToWindow()
{
    if (m_document.Store().HasPoints())
        FitWhenBounded(Fitting::Always);
}

void CKavView::OnActualSize()
{
    SetMapping({});
    TellZoom(ui::kZoomText);
}

namespace {

// Whether `box` lies wholly in a view of `size` through `mapping`: the
// mapping keeps the order, so its corners decide.
bool InView(const ViewMapping& mapping, const NearBox& box, QSize size)
{
    return mapping.ViewX(box.minX) >= 0 && mapping.ViewX(box.maxX) < size.width() && mapping.ViewY(box.minY) >= 0
        && mapping.ViewY(box.maxY) < size.height();
}

ViewMapping Fit(const NearBox& box, QSize size, int maxZoom)
{
    ViewMapping mapping;
    for (int zoom = std::min(maxZoom, ViewMapping::kMaxZoom); zoom >= ViewMapping::kMinZoom; --zoom) {
        mapping.zoom = zoom;
        mapping.originX = (box.minX + box.maxX) / 2 - mapping.ToFigure(size.width() / 2);
        mapping.originY = (box.minY + box.maxY) / 2 - mapping.ToFigure(size.height() / 2);
        if (InView(mapping, box, size))
            break;
    }
    return mapping;
}

} // namespace

void CKavView::FitIfOutside()
{
    FitWhenBounded(Fitting::IfOutside);
}

void CKavView::FitWhenBounded(Fitting fitting)
{
    m_fitting = std::max(m_fitting, fitting);
    if (m_fitting == Fitting::None)
        return;
    const auto points = m_document.Points();
    if (points.empty()) {
        m_fitting = Fitting::None;
        return;
    }
    std::optional<NearBox> bounds = m_joinIndex.Extent(points, kIndexOnWorker);
    if (!bounds) {
        if (IndexOnWorker())
            return; // its bounds, or the idle after it, call this again
        bounds = m_joinIndex.Extent(points, points.size()); // indexed bit by bit, never bounded
    }
    fitting = std::exchange(m_fitting, Fitting::None);
    if (fitting == Fitting::Always) {
        SetMapping(Fit(*bounds, size(), ViewMapping::kMaxZoom));
        TellZoom(ui::kZoomText);
    } else if (!InView(m_mapping, *bounds, size())) { // wholly in view as it is: nothing moves
        SetMapping(Fit(*bounds, size(), m_mapping.zoom));
        TellZoom(ui::kFittedText);
    }
}

void CKavView::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    // A move to where the mouse already was (Qt sends one when a window
    // closes over it) leaves the keyboard cursor where it is.
    if (!m_keyCursor || at != m_mouseAt) {
        if (m_handAt && (event->buttons() & Qt::MiddleButton)) {
            PanBy(at - *std::exchange(m_handAt, at));
        }
        m_mouseAt = at;
        if (m_keyCursor)
            update(CrossRect(*std::exchange(m_keyCursor, std::nullopt)));
        OnMouseMove(at);
    }
    QWidget::mouseMoveEvent(event);
}

void CKavView::keyPressEvent(QKeyEvent* event)
{
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (modifiers != Qt::NoModifier && modifiers != Qt::ShiftModifier) {
        QWidget::keyPressEvent(event);
        return;
    }
    const int step = modifiers == Qt::ShiftModifier ? kBigStep : 1;
    switch (event->key()) {
    case Qt::Key_Left:
        MoveKeyCursor({-step, 0});
        break;
    case Qt::Key_Right:
        MoveKeyCursor({step, 0});
        break;
    case Qt::Key_Up:
        MoveKeyCursor({0, -step});
        break;
    case Qt::Key_Down:
        MoveKeyCursor({0, step});
        break;
    case Qt::Key_Space:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // A held key must not click on and on, each time with the question.
        if (!event->isAutoRepeat()) {
            MoveKeyCursor({});
            OnLButtonDown(*m_keyCursor);
        }
        break;
    default:
        QWidget::keyPressEvent(event);
    }
}

// The cursor starts where the mouse was, or in the middle, and stays inside
// the view so that it is always seen.
void CKavView::MoveKeyCursor(QPoint by)
{
    QPoint from = m_keyCursor.value_or(m_mouseAt.value_or(QPoint(width() / 2, height() / 2)));
    if (m_keyCursor)
        update(CrossRect(*m_keyCursor));
    // Zoomed in, a step is a unit, so that every unit can be reached.
    if (m_mapping.zoom > 0)
        by *= 1 << m_mapping.zoom;
    // Past an edge, the figure moves a quarter of the view the other way,
    // and the cursor with it.
    const QPoint wanted = from + by;
    QPoint pan;
    if (wanted.x() < 0 || wanted.x() >= width())
        pan.setX(wanted.x() < 0 ? width() / 4 : -(width() / 4));
    if (wanted.y() < 0 || wanted.y() >= height())
        pan.setY(wanted.y() < 0 ? height() / 4 : -(height() / 4));
    if (!pan.isNull()) {
        const ViewMapping before = m_mapping;
        PanBy(pan);
        from = QPoint(static_cast<int>(m_mapping.ViewX(before.FigureX(from.x()))),
                      static_cast<int>(m_mapping.ViewY(before.FigureY(from.y()))));
    }
    const QPoint to(std::clamp(from.x() + by.x(), 0, std::max(0, width() - 1)),
                    std::clamp(from.y() + by.y(), 0, std::max(0, height() - 1)));
    m_keyCursor = to;
    update(CrossRect(to));
    OnMouseMove(to); // the readouts follow it as they follow the mouse
}

// Shows the kept picture, after adding what it lacks, with the end marker
// on top. Drawn at the screen's own density, so that lines stay one device
// pixel wide.
void CKavView::paintEvent(QPaintEvent* event)
{
    const qreal scale = devicePixelRatioF();
    m_picture.Resize(qRound(width() * scale), qRound(height() * scale), scale, m_mapping);
    const auto points = m_document.Points();
    const bool wasDrawing = m_drawing;
    if (!m_provisional.isNull() && !wasDrawing) {
        // Just zoomed or panned: a small figure is drawn at once; a large
        // one shows the provisional picture now, and the exact one in
        // slices between events.
        m_drawing = !m_picture.Update(points, FigurePicture::Clock::now() + kMoveBudget, &m_joinIndex);
    } else {
        const auto budget = m_drawing || !m_provisional.isNull() ? kSliceBudget : kPaintBudget;
        m_drawing = !m_picture.Update(points, FigurePicture::Clock::now() + budget, &m_joinIndex);
    }

    const QImage image = PictureImage();
    std::optional<FigurePicture::Marker> marker;
    if (!points.empty())
        marker.emplace(m_picture, points.back());
    QPainter painter(this);
    if (m_drawing && !m_provisional.isNull()) {
        // Moved once per mapping, not again at every slice's paint.
        if (m_moved.isNull() || m_movedMapping != m_mapping) {
            m_moved = MovedPicture(scale);
            m_movedMapping = m_mapping;
        }
        PaintFigure(painter, m_moved, scale, nullptr, event->rect());
    } else {
        m_provisional = QImage();
        m_moved = QImage();
        PaintFigure(painter, image, scale, marker ? &*marker : nullptr, event->rect());
    }
    if (m_keyCursor) {
        // Over the picture, never into it.
        const QPoint at = *m_keyCursor;
        painter.setPen(QColor(kCrossColour));
        painter.drawLine(at.x() - kCrossArm, at.y(), at.x() - kCrossGap, at.y());
        painter.drawLine(at.x() + kCrossGap, at.y(), at.x() + kCrossArm, at.y());
        painter.drawLine(at.x(), at.y() - kCrossArm, at.x(), at.y() - kCrossGap);
        painter.drawLine(at.x(), at.y() + kCrossGap, at.x(), at.y() + kCrossArm);
    }
    painter.end();
    // The index waited for the redraw, and goes on after its last slice.
    if (m_drawing || wasDrawing)
        WakeIdle();
}

QImage CKavView::PictureImage()
{
    return ImageOf(m_picture);
}

namespace {

// Black ink on white: a pixel's AND with the underlay's keeps the underlay
// under white and ink as ink.
void InkOver(QImage& out, const QImage& picture, const QImage& underlay, const QRect& rows)
{
    for (int y = rows.top(); y <= rows.bottom(); ++y) {
        const auto* ink = reinterpret_cast<const QRgb*>(picture.constScanLine(y));
        const auto* under = reinterpret_cast<const QRgb*>(underlay.constScanLine(y));
        auto* to = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = rows.left(); x <= rows.right(); ++x)
            to[x] = ink[x] & under[x];
    }
}

// The end circle stays white inside, as on a bare view.
void MarkerInside(QPainter& painter, const QImage& picture, const QRectF& area, const Rasterizer::Box& box,
                  double scale)
{
    QPainterPath inside;
    inside.addEllipse(
        QRectF((box.left + 1) / scale, (box.top + 1) / scale, (box.size - 2) / scale, (box.size - 2) / scale));
    painter.save();
    painter.setClipPath(inside, Qt::IntersectClip);
    painter.drawImage(area, picture);
    painter.restore();
}

} // namespace

void CKavView::PaintFigure(QPainter& painter, const QImage& picture, double scale, const FigurePicture::Marker* marker,
                           const QRect& dirty)
{
    const QRectF area(rect());
    if (!UnderlayShown()) {
        painter.drawImage(area, picture);
        return;
    }
    // The underlay as the mapping shows it, drawn anew only when either changes.
    if (m_layerOf != m_underlay || m_layerMapping != m_mapping || m_underlayLayer.size() != picture.size()) {
        m_underlayLayer = QImage(picture.size(), QImage::Format_RGB32);
        m_underlayLayer.setDevicePixelRatio(scale);
        m_underlayLayer.fill(FigurePicture::kBackground);
        QPainter layer(&m_underlayLayer);
        m_underlay->Draw(layer, m_mapping, rect());
        layer.end();
        m_layerOf = m_underlay;
        m_layerMapping = m_mapping;
        m_composite = QImage(picture.size(), QImage::Format_RGB32);
        m_composite.setDevicePixelRatio(scale);
    }
    // Only the part being painted.
    const QRect rows = QRect(QPoint(qFloor(dirty.left() * scale), qFloor(dirty.top() * scale)),
                             QPoint(qCeil((dirty.right() + 1) * scale) - 1, qCeil((dirty.bottom() + 1) * scale) - 1))
                           .intersected(m_composite.rect());
    InkOver(m_composite, picture, m_underlayLayer, rows);
    painter.drawImage(area, m_composite);
    if (marker != nullptr)
        MarkerInside(painter, picture, area, marker->Box(), scale);
}

CKavView::ShownRenderer CKavView::Shown() const
{
    return [mapping = m_mapping, size = size(), scale = devicePixelRatioF(),
            underlay = UnderlayShown() ? m_underlay : nullptr](std::span<const Point> points,
                                                              const std::atomic<bool>* cancelled) -> std::optional<QImage> {
        constexpr auto kCancelCheck = std::chrono::milliseconds(50);
        FigurePicture picture;
        picture.Resize(qRound(size.width() * scale), qRound(size.height() * scale), scale, mapping);
        while (!picture.Update(points, FigurePicture::Clock::now() + kCancelCheck)) {
            if (cancelled && cancelled->load(std::memory_order_relaxed))
                return std::nullopt;
        }
        std::optional<FigurePicture::Marker> marker;
        if (!points.empty())
            marker.emplace(picture, points.back());
        QImage shown = ImageOf(picture).copy();
        shown.setDevicePixelRatio(scale);
        if (underlay) {
            QImage layer(shown.size(), QImage::Format_RGB32);
            layer.setDevicePixelRatio(scale);
            layer.fill(FigurePicture::kBackground);
            QPainter painter(&layer);
            underlay->Draw(painter, mapping, QRect(QPoint(), size));
            painter.end();
            QImage composite(shown.size(), QImage::Format_RGB32);
            composite.setDevicePixelRatio(scale);
            InkOver(composite, shown, layer, composite.rect());
            if (marker) {
                QPainter inside(&composite);
                MarkerInside(inside, shown, QRectF(QPoint(), size), marker->Box(), scale);
            }
            return composite;
        }
        return shown;
    };
}

void CKavView::SetUnderlay(std::shared_ptr<const Underlay> underlay)
{
    m_underlay = std::move(underlay);
    m_layerOf.reset();
    m_underlayLayer = QImage();
    m_composite = QImage();
    m_underlayShown = true;
    update();
    Q_EMIT UnderlayChanged();
}

void CKavView::OnShowUnderlay(bool shown)
{
    m_underlayShown = shown;
    update();
    Q_EMIT UnderlayChanged();
}

// The last complete picture moved and scaled to the mapping, pixel by
// pixel, the uncovered parts blank. Zoomed out, each pixel is the one at its
// cell's top-left corner.
QImage CKavView::MovedPicture(double scale) const
{
    const ViewMapping& old = m_provisionalMapping;
    const int shift = m_mapping.zoom - old.zoom; // the new picture is 2^shift times the old
    const std::int64_t left = std::llround(static_cast<double>(m_mapping.ViewX(old.originX)) * scale);
    const std::int64_t top = std::llround(static_cast<double>(m_mapping.ViewY(old.originY)) * scale);
    const auto from = [shift](std::int64_t offset) { return shift >= 0 ? offset >> shift : offset << -shift; };
    QImage moved(m_provisional.size(), QImage::Format_RGB32);
    moved.fill(FigurePicture::kBackground);
    const int width = moved.width();
    const int height = moved.height();
    for (int y = 0; y < height; ++y) {
        const std::int64_t sy = from(y - top);
        if (sy < 0 || sy >= height)
            continue;
        const auto* in = reinterpret_cast<const QRgb*>(m_provisional.constScanLine(static_cast<int>(sy)));
        auto* out = reinterpret_cast<QRgb*>(moved.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const std::int64_t sx = from(x - left);
            if (sx >= 0 && sx < width)
                out[x] = in[sx];
        }
    }
    return moved;
}

void CKavView::OnIdle()
{
    if (m_fitting != Fitting::None)
        FitWhenBounded(Fitting::None);
    const bool onWorker = IndexOnWorker();
    if (m_drawing && isVisible()) {
        m_idle.stop(); // the paint starts it again while there is more
        update();
        return;
    }
    if (onWorker) {
        m_idle.stop(); // the worker wakes it when done
        return;
    }
    const auto points = m_document.Points();
    const auto deadline = FigurePicture::Clock::now() + kIndexBudget;
    while (!m_joinIndex.IndexMore(points, kIndexStep)) {
        if (FigurePicture::Clock::now() >= deadline)
            return;
    }
    m_idle.stop();
}

bool CKavView::IndexOnWorker()
{
    if (m_indexWorker.Running())
        return true;
    const auto points = m_document.Points();
    if (points.size() < m_joinIndex.Indexed() + kIndexOnWorker)
        return false;
    m_indexWorker.Start(
        points,
        [this] { QMetaObject::invokeMethod(this, [this] { FitWhenBounded(Fitting::None); }, Qt::QueuedConnection); },
        [this] {
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_indexWorker.Stop(); // it has ended: this only joins it
                WakeIdle(); // for points added meanwhile
            },
            Qt::QueuedConnection);
    });
    return true;
}

void CKavView::WakeIdle()
{
    // Restarting a running timer would cost a timer registration per point
    // when points are set up one by one.
    if (!m_idle.isActive())
        m_idle.start();
}

void CKavView::DrawPoints(QImage& image, std::span<const Point> points, const ViewMapping& mapping)
{
    image.fill(FigurePicture::kBackground);
    if (points.empty())
        return;
    const Canvas canvas{reinterpret_cast<std::uint32_t*>(image.bits()), image.width(), image.height(),
                        image.bytesPerLine() / 4};
    const Rasterizer raster(canvas, 1.0, mapping);
    raster.Pixel(points[0], FigurePicture::kInk);
    raster.Segments(points, 1, points.size(), FigurePicture::kInk);
    raster.EndMarker(points.back(), FigurePicture::kInk, FigurePicture::kBackground);
}

void CKavView::OnLButtonDown(QPoint at)
{
    const std::optional<Point> figure = FigureAt(at);
    if (!figure) {
        QApplication::beep(); // beyond what a point can hold
        return;
    }
    const CommandScope scope = BeginCommand();
    if (!scope)
        return;
    if (!FindNearPoint(at.x(), at.y()))
        Append(*figure);
    update();
}

// Near is within kJoinReach view pixels on both axes, at every scale.
bool CKavView::FindNearPoint(int x, int y)
{
    const auto points = m_document.Points();
    const ViewMapping::Span nearX = m_mapping.NearX(x, kJoinReach);
    const ViewMapping::Span nearY = m_mapping.NearY(y, kJoinReach);
    const std::ptrdiff_t index = m_joinIndex.FindIn(points, {nearX.low, nearX.high, nearY.low, nearY.high});
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
    if (!Apply(PointChange::Append(p))) {
        m_prompts.Tell(this, ui::kPointRefusedText, ui::kPointRefusedCaption, CUserPrompts::Icon::Warning);
        return false;
    }
    return true;
}

void CKavView::OnMouseMove(QPoint at)
{
    const PointStore::Layout store = m_document.Store().State();
    Q_EMIT ReadoutsChanged(QString::fromLatin1(ui::kReadoutX).arg(m_mapping.FigureX(at.x())),
                           QString::fromLatin1(ui::kReadoutY).arg(m_mapping.FigureY(at.y())),
                           QString::fromUtf8(store.useA ? ui::kReadoutCountA : ui::kReadoutCountB)
                               .arg(store.useA ? store.countA : store.countB));
}

void CKavView::OnPointsNew()
{
    const CommandScope scope = BeginCommand();
    if (!scope)
        return;
    if (m_document.Store().HasPoints() && m_prompts.AskYesNo(this, ui::kNewText, ui::kNewCaption))
        Apply(PointChange::Clear());
    update();
}

void CKavView::OnUndoPoint()
{
    const CommandScope scope = BeginCommand();
    if (!scope)
        return;
    Apply(PointChange::RemoveLast());
    update();
}

void CKavView::OnRedoPoint()
{
    const CommandScope scope = BeginCommand();
    if (!scope)
        return;
    if (m_document.CanRedo() && !Apply(PointChange::Redo()))
        m_prompts.Tell(this, ui::kPointRefusedText, ui::kPointRefusedCaption, CUserPrompts::Icon::Warning);
    update();
}

} // namespace kav
