#include "app/recovery.h"

#include "app/main_frame.h"
#include "app/memory_limit.h"
#include "exchange/file_errors.h"
#include "exchange/file_worker.h"
#include "exchange/point_journal.h"
#include "res/strings.h"
#include "view/user_prompts.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QStatusBar>

namespace kav {

// Reads a dead instance's journal on a thread of its own, as the loader
// reads a file.
class JournalReader final : public FileWorker {
public:
    JournalReader(std::string path, PointStore& points)
        : m_path(std::move(path))
        , m_points(points)
    {
        Start([this] { m_read = ReadJournal(m_path, m_points, Control()); });
    }
    ~JournalReader() override { Finish(); }

    // Once it has ended.
    const JournalRead& Read() const { return m_read; }

private:
    std::string m_path;
    PointStore& m_points;
    JournalRead m_read;
};

CRecovery::CRecovery(CUserPrompts& prompts, CMainFrame& frame, PointJournal& journal, std::string folder)
    : m_prompts(prompts)
    , m_frame(frame)
    , m_journal(journal)
    , m_folder(std::move(folder))
{
}

CRecovery::~CRecovery() = default; // a read under way is cancelled

void CRecovery::Start()
{
    m_found = FindDeadJournals(m_folder, m_journal.Id());
    m_next = 0;
    m_scope = m_frame.View()->HoldCommands();
    ReadNext();
}

void CRecovery::ReadNext()
{
    // Only the newest figure is offered; the journals after it stay for a
    // later start.
    if (m_next >= m_found.size()) {
        End();
        return;
    }
    const std::string path = m_found[m_next].JournalPath();
    m_points = std::make_unique<PointStore>(&ReallocateWithinMemory);
    m_reader = std::make_unique<JournalReader>(path, *m_points);
    connect(m_reader.get(), &FileWorker::Finished, this, &CRecovery::OnRead);
    m_reader->ShowProgress(m_prompts.StartProgress(&m_frame, ProgressWork::Loading, ui::kRecoveryReadingText,
                                                   QFileInfo(QFile::decodeName(path.c_str())).size()));
}

void CRecovery::OnRead()
{
    const std::unique_ptr<JournalReader> reader = std::move(m_reader);
    const JournalRead read = reader->Read();
    FoundJournal& found = m_found[m_next++];
    if (read.result.Cancelled()) {
        End(); // asked again at the next start
        return;
    }
    if (read.result.NoRoom()) {
        m_frame.statusBar()->showMessage(ui::kRecoveryNoMemoryText);
        End(); // likewise
        return;
    }
    if (read.Damaged())
        found.MoveAside();
    else if (read.result.Ok() && !m_points->HasPoints())
        found.Remove();
    if (!read.result.Ok() || !m_points->HasPoints()) {
        ReadNext();
        return;
    }
    Offer(found, read);
    End();
}

void CRecovery::Offer(FoundJournal& found, const JournalRead& read)
{
    const QLocale locale;
    const QString when
        = locale.toString(QDateTime::fromSecsSinceEpoch(found.Modified()), QStringLiteral("d.M.yyyy HH:mm"));
    const QString count = locale.toString(qlonglong(m_points->ActivePoints().size()));
    if (!m_prompts.AskYesNo(&m_frame, ui::kRecoverText.arg(when, count), ui::kRecoverCaption)) {
        found.Remove();
        return;
    }
    CKavView* view = m_frame.View();
    if (!view->Apply(PointChange::Recovered(*m_points)))
        return;
    // Adopt's own result: the figure is recorded anew when the old file
    // cannot be taken over, and then that counts.
    const FileResult adopted = m_journal.Adopt(found, read, view->Store().ActivePoints());
    if (!adopted.Ok())
        m_frame.statusBar()->showMessage(ui::kRecoveryUnavailableText.arg(SystemErrorReason(adopted)));
    view->update();
}

void CRecovery::End()
{
    m_points.reset();
    m_found.clear(); // their locks go
    m_scope.Release();
    Q_EMIT Ended();
}

} // namespace kav
