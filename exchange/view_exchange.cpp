// The view's Save, Open and listing commands, and files dropped on it: the
// view's handlers that move points between the store and text.

#include "exchange/file_errors.h"
#include "exchange/point_file.h"
#include "exchange/point_loader.h"
#include "exchange/point_saver.h"
#include "res/strings.h"
#include "view/kav_view.h"
#include "view/user_prompts.h"

#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QScopedValueRollback>
#include <QTimer>
#include <QUrl>

namespace kav {

namespace {

// How often a drop that came during a command looks whether it has ended.
constexpr int kDropRetryMs = 20;

} // namespace

void CKavView::OnPointsSave()
{
    if (!MayStartCommand())
        return;
    const QScopedValueRollback busy(m_busy, true);
    if (!m_document.Store().HasPoints()) {
        m_prompts.Tell(this, ui::kNoPointsText, ui::kNoPointsCaption, CUserPrompts::Icon::None);
        return;
    }
    const std::optional<SaveFormat> format = m_prompts.AskSaveFormat(this);
    if (!format)
        return;
    const QString path = m_prompts.AskSavePath(this);
    if (path.isEmpty())
        return;
    // The points are written where they are, on a thread of their own: they
    // stay put because every command, a click or Undo too, is refused until
    // the save ends. Closing the window does not cancel what the user asked
    // for; a stalled pipe still ends at the stall limit.
    const std::span<const Point> points = m_document.Points();
    PointSaver saver(QFile::encodeName(path), points, *format);
    const bool cancelled = saver.WaitShowing(
        m_prompts.StartProgress(this, ProgressWork::Saving, ui::kSavingText, static_cast<qint64>(points.size())));
    const FileResult saved = saver.Result();
    if (!saved.Ok() && !(cancelled && saved.error == ECANCELED))
        m_prompts.Tell(this, ui::kSaveFailedText.arg(QDir::toNativeSeparators(path), SystemErrorReason(saved)),
                       ui::kSaveFailedCaption, CUserPrompts::Icon::Warning);
}

void CKavView::OnPointsOpen()
{
    if (!MayStartCommand())
        return;
    const QScopedValueRollback busy(m_busy, true);
    const QString path = m_prompts.AskOpenPath(this);
    if (!path.isEmpty())
        OpenPoints(QFile::encodeName(path));
}

namespace {

// The one local file that a drag carries, or nothing. The name comes byte
// for byte from the address, so that a name that is not valid UTF-8 (from
// an old Windows-1250 archive, say) still opens.
QByteArray DroppedFile(const QMimeData* data)
{
    const QList<QUrl> urls = data ? data->urls() : QList<QUrl>();
    if (urls.size() != 1 || !urls.front().isLocalFile())
        return {};
    return QByteArray::fromPercentEncoding(urls.front().path(QUrl::FullyEncoded).toLatin1());
}

} // namespace

// Only one local file may be dropped; anything else keeps the "no entry"
// cursor.
void CKavView::dragEnterEvent(QDragEnterEvent* event)
{
    if (!m_busy && !DroppedFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

// A dropped file is opened as if chosen in the open dialog, once the drop
// itself has ended: the command's questions must not hold up the drag.
void CKavView::dropEvent(QDropEvent* event)
{
    const QByteArray path = DroppedFile(event->mimeData());
    if (path.isEmpty())
        return;
    event->acceptProposedAction();
    QMetaObject::invokeMethod(
        this, [this, path] { OpenFile(path); }, Qt::QueuedConnection);
}

// A drop that comes while a command runs waits for it to end.
void CKavView::OpenFile(const QByteArray& path)
{
    if (m_busy) {
        QTimer::singleShot(kDropRetryMs, this, [this, path] { OpenFile(path); });
        return;
    }
    const QScopedValueRollback busy(m_busy, true);
    OpenPoints(path);
}

void CKavView::OpenPoints(const QByteArray& path)
{
    const QString shownPath = QDir::toNativeSeparators(QFile::decodeName(path));
    auto tell
        = [&](const QString& text) { m_prompts.Tell(this, text, ui::kOpenFailedCaption, CUserPrompts::Icon::Warning); };
    // Opened before the question, so that a file that cannot be read never
    // costs the user the points already drawn.
    FileHandle file;
    const FileResult opened = OpenForReading(path, file);
    if (!opened.Ok()) {
        tell(ui::kOpenFailedText.arg(shownPath, SystemErrorReason(opened)));
        return;
    }
    const bool replace = m_document.Store().HasPoints() && m_prompts.AskYesNo(this, ui::kReplaceText, ui::kReplaceCaption);

    // The file is read aside, on a thread of its own: the window waits for
    // nothing, and a failure part way, a cancel or closing the window leave
    // the points as they were.
    const qint64 size = file.KnownSize();
    PointLoader loader(std::move(file), m_document.Store().Reallocator());
    // Events are handled while the load runs, so that the window repaints
    // and can be closed, which cancels it; every command waits for it.
    const bool shown = window()->isVisible();
    loader.WaitShowing(m_prompts.StartProgress(this, ProgressWork::Loading, ui::kLoadingText, size),
                       [&] { return shown && !window()->isVisible(); });

    switch (loader.Status()) {
    case LoadStatus::Cancelled:
        return;
    case LoadStatus::ReadFailed:
        tell(ui::kReadFailedText.arg(shownPath, SystemErrorReason(loader.Error())));
        return;
    case LoadStatus::TooMany:
        tell(ui::kLoadTooLargeText.arg(shownPath));
        return;
    case LoadStatus::Loaded:
        break;
    }
    if (!Apply(replace ? PointChange::ReplaceAll(loader.Points()) : PointChange::AppendAll(loader.Points()))) {
        tell(ui::kLoadTooLargeText.arg(shownPath));
        return;
    }
    update();
}

void CKavView::OnShowCoords()
{
    if (!MayStartCommand())
        return;
    const QScopedValueRollback busy(m_busy, true);
    m_prompts.ShowListing(this, m_document.Points(), {width() / 2, height() / 2});
}

} // namespace kav
