#include "view/kav_view.h"

#include "res/strings.h"
#include "view/raster.h"
#include "view/user_prompts.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <optional>
#include <utility>

namespace kav {

namespace {

// A redraw longer than this goes on in slices, between which the window
// handles input and shows the picture as far as it has got.
constexpr auto kPaintBudget = std::chrono::milliseconds(50);
constexpr auto kSliceBudget = std::chrono::milliseconds(16);
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
    , m_repaint([this](const PointChange&, std::span<const Point>) {
        WakeIdle(); // the picture and the index catch up between events
        update();
    })
{
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
    QWidget::mousePressEvent(event);
}

void CKavView::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    // A move to where the mouse already was (Qt sends one when a window
    // closes over it) leaves the keyboard cursor where it is.
    if (!m_keyCursor || at != m_mouseAt) {
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
    const QPoint from = m_keyCursor.value_or(m_mouseAt.value_or(QPoint(width() / 2, height() / 2)));
    if (m_keyCursor)
        update(CrossRect(*m_keyCursor));
    const QPoint to(std::clamp(from.x() + by.x(), 0, std::max(0, width() - 1)),
                    std::clamp(from.y() + by.y(), 0, std::max(0, height() - 1)));
    m_keyCursor = to;
    update(CrossRect(to));
    OnMouseMove(to); // the readouts follow it as they follow the mouse
}

// Shows the kept picture, after adding what it lacks, with the end marker
// on top. Drawn at the screen's own density, so that lines stay one device
// pixel wide.
void CKavView::paintEvent(QPaintEvent*)
{
    const qreal scale = devicePixelRatioF();
    m_picture.Resize(qRound(width() * scale), qRound(height() * scale), scale);
    const auto points = m_document.Points();
    const auto budget = m_drawing ? kSliceBudget : kPaintBudget;
    const bool wasDrawing = m_drawing;
    m_drawing = !m_picture.Update(points, FigurePicture::Clock::now() + budget);

    const Canvas pixels = m_picture.Pixels();
    const QImage image(reinterpret_cast<const uchar*>(pixels.pixels), pixels.width, pixels.height,
                       pixels.stride * qsizetype{sizeof(std::uint32_t)}, QImage::Format_RGB32);
    std::optional<FigurePicture::Marker> marker;
    if (!points.empty())
        marker.emplace(m_picture, points.back());
    QPainter painter(this);
    painter.drawImage(QRectF(rect()), image);
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

void CKavView::OnIdle()
{
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
    m_indexWorker.Start(points, [this] {
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
    const CommandScope scope = BeginCommand();
    if (!scope)
        return;
    if (!FindNearPoint(at.x(), at.y()))
        Append({at.x(), at.y()});
    update();
}

bool CKavView::FindNearPoint(int x, int y)
{
    const auto points = m_document.Points();
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
    if (!Apply(PointChange::Append(p))) {
        m_prompts.Tell(this, ui::kPointRefusedText, ui::kPointRefusedCaption, CUserPrompts::Icon::Warning);
        return false;
    }
    return true;
}

void CKavView::OnMouseMove(QPoint at)
{
    const PointStore::Layout store = m_document.Store().State();
    Q_EMIT ReadoutsChanged(QString::fromLatin1(ui::kReadoutX).arg(at.x()),
                           QString::fromLatin1(ui::kReadoutY).arg(at.y()),
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
