#include "view/kav_view.h"

#include "app/ui_text.h"
#include "exchange/file_errors.h"
#include "exchange/point_file.h"
#include "view/geometry.h"
#include "view/raster.h"
#include "view/user_prompts.h"

#include <QDir>
#include <QFile>
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

void CKavView::OnPointsSave()
{
    if (!m_store.HasPoints()) {
        m_prompts.Tell(this, ui::kNoPointsText, ui::kNoPointsCaption, CUserPrompts::Icon::None);
        return;
    }
    const std::optional<SaveFormat> format = m_prompts.AskSaveFormat(this);
    if (!format)
        return;
    const QString path = m_prompts.AskSavePath(this);
    if (path.isEmpty())
        return;
    const QString failure = SavePointsToFile(path, m_store.ActivePoints(), *format);
    if (!failure.isEmpty())
        m_prompts.Tell(this, ui::kSaveFailedText.arg(QDir::toNativeSeparators(path), failure), ui::kSaveFailedCaption,
                       CUserPrompts::Icon::Warning);
}

void CKavView::OnPointsOpen()
{
    const QString path = m_prompts.AskOpenPath(this);
    if (path.isEmpty())
        return;
    const QString shownPath = QDir::toNativeSeparators(path);
    // Opened before the question, so that a file that cannot be read never
    // costs the user the points already drawn.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        m_prompts.Tell(this, ui::kOpenFailedText.arg(shownPath, ReadErrorReason(file)), ui::kOpenFailedCaption,
                       CUserPrompts::Icon::Warning);
        return;
    }
    const bool replace = m_store.HasPoints() && m_prompts.AskYesNo(this, ui::kReplaceText, ui::kReplaceCaption);

    // The whole file is read aside first: a failure part way, or a cancel,
    // leaves the points as they were.
    PointStore loaded;
    std::unique_ptr<CProgress> progress = m_prompts.StartProgress(this, ui::kLoadingText, file.size());
    const LoadResult result
        = LoadPointsFrom(file, loaded, [&progress](qint64 done) { return !progress || progress->Update(done); });
    progress.reset();

    if (result.status == LoadStatus::Cancelled)
        return;
    if (result.status == LoadStatus::ReadFailed) {
        m_prompts.Tell(this, ui::kReadFailedText.arg(shownPath, result.reason), ui::kOpenFailedCaption,
                       CUserPrompts::Icon::Warning);
        return;
    }
    const bool stored = result.status == LoadStatus::Loaded
        && (replace ? m_store.ReplacePoints(std::move(loaded)) : m_store.AppendPoints(std::move(loaded)));
    if (!stored) {
        m_prompts.Tell(this, ui::kLoadTooLargeText.arg(shownPath), ui::kOpenFailedCaption, CUserPrompts::Icon::Warning);
        return;
    }
    update();
}

void CKavView::OnShowCoords()
{
    const std::string text = FormatListing(m_store.ActivePoints(), width() / 2, height() / 2);
    m_prompts.ShowListing(this, QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
}

} // namespace kav
