#include "exchange/file_commands.h"

#include "exchange/file_errors.h"
#include "exchange/point_file.h"
#include "exchange/point_loader.h"
#include "exchange/point_saver.h"
#include "res/strings.h"
#include "view/point_document.h"
#include "view/underlay.h"
#include "view/user_prompts.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEvent>
#include <QFile>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

namespace kav {

struct CFileCommands::RunningLoad {
    CommandGate::Scope scope;
    PointLoader loader;
    QByteArray path;
    bool replace = false;
};

// A Save or an export.
struct CFileCommands::RunningSave {
    CommandGate::Scope scope;
    std::unique_ptr<PointSaver> saver;
    QString path;
};

// Reads an underlay on a thread of its own: a large image takes seconds.
class UnderlayLoader final : public FileWorker {
public:
    explicit UnderlayLoader(QString path)
        : m_path(std::move(path))
    {
        Start([this] { m_result = Underlay::Load(m_path, Control().cancelled); });
    }
    ~UnderlayLoader() override { Finish(); }
    const Underlay::Loaded& Result() const { return m_result; }

private:
    QString m_path;
    Underlay::Loaded m_result;
};

struct CFileCommands::RunningUnderlay {
    CommandGate::Scope scope;
    UnderlayLoader loader;
    QString path;
};

CFileCommands::CFileCommands(QWidget& view, PointDocument& document, CUserPrompts& prompts, CommandGate& gate)
    : m_view(view)
    , m_document(document)
    , m_prompts(prompts)
    , m_gate(gate)
{
    // Not from inside the command that ends: its caller still unwinds.
    m_gate.AddEndedHandler(this, [this] {
        if (!m_waitingOpens.isEmpty())
            QMetaObject::invokeMethod(this, &CFileCommands::OpenWaiting, Qt::QueuedConnection);
    });
    m_view.installEventFilter(this);
}

CFileCommands::~CFileCommands()
{
    m_gate.RemoveEndedHandlers(this);
    m_view.removeEventFilter(this);
    if (m_save) {
        m_save->saver->WaitForEnd();
        m_document.RemoveReader(m_save->saver.get());
    }
    m_save.reset();
    m_load.reset();
    m_underlay.reset();
}

// A write of the points may begin: no other command runs, and there are
// points, or the user is told that there are none.
CommandGate::Scope CFileCommands::BeginWrite()
{
    CommandGate::Scope scope = m_gate.Begin();
    if (scope && !m_document.Store().HasPoints()) {
        m_prompts.Tell(&m_view, ui::kNoPointsText, ui::kNoPointsCaption, CUserPrompts::Icon::None);
        return {};
    }
    return scope;
}

void CFileCommands::OnPointsSave()
{
    CommandGate::Scope scope = BeginWrite();
    if (!scope)
        return;
    const std::optional<SaveFormat> format = m_prompts.AskSaveFormat(&m_view);
    if (!format)
        return;
    const QString path = m_prompts.AskSavePath(&m_view);
    if (path.isEmpty())
        return;
    StartSave(std::move(scope), path, SavedText(*format));
}

// The points are written where they are, under the saver's lease: a change
// that would disturb them stops it first.
void CFileCommands::StartSave(CommandGate::Scope scope, const QString& path, PointSaver::Text text)
{
    const std::span<const Point> points = m_document.Points();
    m_save.reset(new RunningSave{std::move(scope),
                                 std::make_unique<PointSaver>(QFile::encodeName(path), points, std::move(text)), path});
    PointSaver& saver = *m_save->saver;
    m_document.AddReader(&saver);
    connect(&saver, &FileWorker::Finished, this, &CFileCommands::OnSaveEnded);
    saver.ShowProgress(
        m_prompts.StartProgress(&m_view, ProgressWork::Saving, ui::kSavingText, static_cast<qint64>(points.size())));
}

void CFileCommands::OnSaveEnded()
{
    const auto save = std::move(m_save);
    m_document.RemoveReader(save->saver.get());
    const FileResult saved = save->saver->Result();
    // A cancel that came in time to keep the old file is no failure.
    if (!saved.Ok() && !saved.Cancelled())
        m_prompts.Tell(&m_view, ui::kSaveFailedText.arg(QDir::toNativeSeparators(save->path), SystemErrorReason(saved)),
                       ui::kSaveFailedCaption, CUserPrompts::Icon::Warning);
}

void CFileCommands::OnExport()
{
    CommandGate::Scope scope = BeginWrite();
    if (!scope)
        return;
    const std::optional<ExportTarget> chosen = m_prompts.AskExportPath(&m_view);
    if (!chosen)
        return;
    const ExportTarget target = ResolveExport(chosen->path, chosen->format);
    PictureRenderer render = target.format == ExportFormat::Png && m_shownPicture ? m_shownPicture() : nullptr;
    StartSave(std::move(scope), target.path, ExportText(target.format, std::move(render)));
}

void CFileCommands::OnLoadUnderlay()
{
    const QString path = m_prompts.AskUnderlayPath(&m_view);
    if (!path.isEmpty())
        LoadUnderlay(path);
}

void CFileCommands::LoadUnderlay(const QString& path)
{
    CommandGate::Scope scope = m_gate.Begin();
    if (!scope)
        return;
    m_underlay.reset(new RunningUnderlay{std::move(scope), UnderlayLoader(path), path});
    connect(&m_underlay->loader, &FileWorker::Finished, this, &CFileCommands::OnUnderlayEnded);
}

void CFileCommands::OnUnderlayEnded()
{
    const auto running = std::move(m_underlay);
    const Underlay::Loaded& loaded = running->loader.Result();
    if (loaded.underlay)
        Q_EMIT UnderlayLoaded(loaded.underlay);
    else
        m_prompts.Tell(&m_view, ui::kUnderlayFailedText.arg(QDir::toNativeSeparators(running->path), loaded.reason),
                       ui::kUnderlayFailedCaption, CUserPrompts::Icon::Warning);
}

void CFileCommands::OnPointsOpen()
{
    CommandGate::Scope scope = m_gate.Begin();
    if (!scope)
        return;
    const QString path = m_prompts.AskOpenPath(&m_view);
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

// Only one local file may be dropped, and opened as if chosen in the open
// dialog once the drop itself has ended: the command's questions must not
// hold up the drag. Anything else keeps the "no entry" cursor. Closing the
// window cancels a load: nobody is left to see it.
bool CFileCommands::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != &m_view)
        return QObject::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::DragEnter: {
        auto* enter = static_cast<QDragEnterEvent*>(event);
        if (!m_gate.Running() && !DroppedFile(enter->mimeData()).isEmpty())
            enter->acceptProposedAction();
        return true;
    }
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        const QByteArray path = DroppedFile(drop->mimeData());
        if (!path.isEmpty()) {
            drop->acceptProposedAction();
            // An image by its content is an underlay; anything else, points.
            QMetaObject::invokeMethod(
                this,
                [this, path] {
                    if (Underlay::IsImage(QFile::decodeName(path)))
                        LoadUnderlay(QFile::decodeName(path));
                    else
                        OpenFile(path);
                },
                Qt::QueuedConnection);
        }
        return true;
    }
    case QEvent::Hide:
        if (m_load && m_view.window()->isHidden())
            m_load->loader.Cancel();
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

// A drop that comes while a command runs, or before the last change is
// safe, waits for that.
void CFileCommands::OpenFile(const QByteArray& path)
{
    m_waitingOpens.append(path);
    OpenWaiting();
}

void CFileCommands::OpenWaiting()
{
    if (m_waitingOpens.isEmpty() || m_gate.Running() || !m_document.Settled())
        return;
    const QByteArray path = m_waitingOpens.takeFirst();
    OpenPoints(path, m_gate.Hold());
}

void CFileCommands::OpenPoints(const QByteArray& path, CommandGate::Scope scope)
{
    const QString shownPath = QDir::toNativeSeparators(QFile::decodeName(path));
    // Opened before the question, so that a file that cannot be read never
    // costs the user the points already drawn.
    FileHandle file;
    const FileResult opened = OpenForReading(path, file);
    if (!opened.Ok()) {
        m_prompts.Tell(&m_view, ui::kOpenFailedText.arg(shownPath, SystemErrorReason(opened)), ui::kOpenFailedCaption,
                       CUserPrompts::Icon::Warning);
        return;
    }
    const bool replace
        = m_document.Store().HasPoints() && m_prompts.AskYesNo(&m_view, ui::kReplaceText, ui::kReplaceCaption);

    // The file is read on a thread of its own: the window waits for
    // nothing, and a failure part way, a cancel or closing the window leave
    // the points as they were.
    const qint64 size = file.KnownSize();
    m_load.reset(new RunningLoad{std::move(scope), PointLoader(std::move(file), m_document.Store().Reallocator()), path,
                                 replace});
    connect(&m_load->loader, &FileWorker::Finished, this, &CFileCommands::OnLoadEnded);
    m_load->loader.ShowProgress(m_prompts.StartProgress(&m_view, ProgressWork::Loading, ui::kLoadingText, size));
}

void CFileCommands::OnLoadEnded()
{
    const auto load = std::move(m_load);
    const QString shownPath = QDir::toNativeSeparators(QFile::decodeName(load->path));
    auto tell
        = [&](const QString& text) { m_prompts.Tell(&m_view, text, ui::kOpenFailedCaption, CUserPrompts::Icon::Warning); };
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
    if (!m_document.Apply(load->replace ? PointChange::ReplaceAll(points) : PointChange::AppendAll(points))) {
        tell(ui::kLoadTooLargeText.arg(shownPath));
        return;
    }
    m_view.update();
}

} // namespace kav
