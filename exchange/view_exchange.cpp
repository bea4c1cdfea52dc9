// The view's Save, Open and listing commands, and files dropped on it: the
// view's handlers that move points between the store and text. A save and
// a load run on a thread; the command returns to the event loop and ends
// when the job's Finished() comes, holding its scope until then.

#include "exchange/file_errors.h"
#include "exchange/point_file.h"
#include "exchange/point_loader.h"
#include "exchange/point_saver.h"
#include "res/strings.h"
#include "view/kav_view.h"
#include "view/user_prompts.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QUrl>

namespace kav {

struct CKavView::RunningLoad {
    CommandScope scope;
    PointLoader loader;
    QByteArray path;
    bool replace = false;
};

struct CKavView::RunningSave {
    CommandScope scope;
    PointSaver saver;
    QString path;
};

void CKavView::RunningDeleter::operator()(RunningLoad* load) const
{
    delete load;
}

void CKavView::RunningDeleter::operator()(RunningSave* save) const
{
    delete save;
}

CKavView::~CKavView()
{
    // Closing the window does not cancel a save that the user asked for;
    // a stalled pipe still ends at the stall limit.
    if (m_save)
        m_save->saver.WaitForEnd();
    m_document.EndLeases(); // before a reader can post to a view half gone
}

void CKavView::OnPointsSave()
{
    CommandScope scope = BeginCommand();
    if (!scope)
        return;
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
    // The points are written where they are, under the saver's lease: a
    // change that would disturb them stops it first.
    const std::span<const Point> points = m_document.Points();
    m_save.reset(new RunningSave{std::move(scope), PointSaver(QFile::encodeName(path), points, *format), path});
    PointSaver& saver = m_save->saver;
    m_document.AddReader(&saver);
    connect(&saver, &FileWorker::Finished, this, &CKavView::OnSaveEnded);
    saver.ShowProgress(
        m_prompts.StartProgress(this, ProgressWork::Saving, ui::kSavingText, static_cast<qint64>(points.size())));
}

void CKavView::OnSaveEnded()
{
    const auto save = std::move(m_save);
    m_document.RemoveReader(&save->saver);
    const FileResult saved = save->saver.Result();
    // A cancel that came in time to keep the old file is no failure.
    if (!saved.Ok() && !saved.Cancelled())
        m_prompts.Tell(this, ui::kSaveFailedText.arg(QDir::toNativeSeparators(save->path), SystemErrorReason(saved)),
                       ui::kSaveFailedCaption, CUserPrompts::Icon::Warning);
}

void CKavView::OnPointsOpen()
{
    CommandScope scope = BeginCommand();
    if (!scope)
        return;
    const QString path = m_prompts.AskOpenPath(this);
    if (!path.isEmpty())
        OpenPoints(QFile::encodeName(path), std::move(scope));
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
    if (!CommandRunning() && !DroppedFile(event->mimeData()).isEmpty())
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

// A drop that comes while a command runs, or before the last change is
// safe, waits for that.
void CKavView::OpenFile(const QByteArray& path)
{
    m_waitingOpens.append(path);
    OpenWaiting();
}

void CKavView::OpenWaiting()
{
    if (m_waitingOpens.isEmpty() || CommandRunning() || !m_document.Settled())
        return;
    const QByteArray path = m_waitingOpens.takeFirst();
    OpenPoints(path, HoldCommands());
}

void CKavView::OpenPoints(const QByteArray& path, CommandScope scope)
{
    const QString shownPath = QDir::toNativeSeparators(QFile::decodeName(path));
    // Opened before the question, so that a file that cannot be read never
    // costs the user the points already drawn.
    FileHandle file;
    const FileResult opened = OpenForReading(path, file);
    if (!opened.Ok()) {
        m_prompts.Tell(this, ui::kOpenFailedText.arg(shownPath, SystemErrorReason(opened)), ui::kOpenFailedCaption,
                       CUserPrompts::Icon::Warning);
        return;
    }
    const bool replace
        = m_document.Store().HasPoints() && m_prompts.AskYesNo(this, ui::kReplaceText, ui::kReplaceCaption);

    // The file is read on a thread of its own: the window waits for
    // nothing, and a failure part way, a cancel or closing the window leave
    // the points as they were.
    const qint64 size = file.KnownSize();
    m_load.reset(new RunningLoad{std::move(scope), PointLoader(std::move(file), m_document.Store().Reallocator()), path,
                                 replace});
    connect(&m_load->loader, &FileWorker::Finished, this, &CKavView::OnLoadEnded);
    m_load->loader.ShowProgress(m_prompts.StartProgress(this, ProgressWork::Loading, ui::kLoadingText, size));
}

// Closing the window cancels a load: nobody is left to see it.
void CKavView::hideEvent(QHideEvent* event)
{
    if (m_load && window()->isHidden())
        m_load->loader.Cancel();
    QWidget::hideEvent(event);
}

void CKavView::OnLoadEnded()
{
    const auto load = std::move(m_load);
    const QString shownPath = QDir::toNativeSeparators(QFile::decodeName(load->path));
    auto tell
        = [&](const QString& text) { m_prompts.Tell(this, text, ui::kOpenFailedCaption, CUserPrompts::Icon::Warning); };
    const FileResult loaded = load->loader.Result();
    if (loaded.Cancelled())
        return;
    if (loaded.NoRoom()) {
        tell(ui::kLoadTooLargeText.arg(shownPath));
        return;
    }
    if (!loaded.Ok()) {
        tell(ui::kReadFailedText.arg(shownPath, SystemErrorReason(loaded)));
        return;
    }
    PointStore& points = load->loader.Points();
    if (!Apply(load->replace ? PointChange::ReplaceAll(points) : PointChange::AppendAll(points))) {
        tell(ui::kLoadTooLargeText.arg(shownPath));
        return;
    }
    update();
}

void CKavView::OnShowCoords()
{
    const CommandScope scope = BeginCommand();
    if (!scope)
        return;
    m_prompts.ShowListing(this, m_document.Points(), {width() / 2, height() / 2});
}

} // namespace kav
