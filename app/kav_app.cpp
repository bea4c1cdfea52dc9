#include "app/kav_app.h"

#include "app/command_line.h"
#include "app/main_frame.h"
#include "exchange/file_commands.h"
#include "app/recent_files.h"
#include "app/recovery.h"
#include "app/memory_limit.h"
#include "app/termination_signals.h"
#include "exchange/file_errors.h"
#include "exchange/file_worker.h"
#include "exchange/point_journal.h"
#include "res/strings.h"
#include "view/kav_view.h"
#include "view/user_prompts.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QSessionManager>
#include <QStatusBar>
#include <QTimer>
#include <QTranslator>

#include <cstdio>

namespace kav {

QIcon AppIcon()
{
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/kav-%1.png").arg(size));
    return icon;
}

CKavApp::CKavApp(CUserPrompts& prompts, QObject* parent)
    : QObject(parent)
    , m_prompts(prompts)
{
}

CKavApp::~CKavApp()
{
    // The window goes before the journal that its figure records into.
    m_recovery.reset();
    m_frame.reset();
    m_journal.reset();
}

void CKavApp::SetUpApplication(QCoreApplication& app)
{
    QCoreApplication::setOrganizationName(ui::kOrganization);
    QCoreApplication::setApplicationName(ui::kAppName);
    QCoreApplication::setApplicationVersion(ui::kVersion);
    QLocale::setDefault(QLocale(QLocale::Polish, QLocale::Poland));
    auto* translator = new QTranslator(&app);
    if (translator->load(QStringLiteral("qtbase_pl"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(translator);
    else
        delete translator; // English standard texts, then
}

bool CKavApp::InitInstance(const QByteArrayList& arguments)
{
    std::vector<std::string> bytes;
    for (const QByteArray& argument : arguments)
        bytes.emplace_back(argument.constData(), static_cast<std::size_t>(argument.size()));
    const CommandLine line = ParseCommandLine(bytes);
    if (line.ask == CommandLine::Ask::Help) {
        std::fputs(ui::kHelpText.toLocal8Bit().constData(), stdout);
        return false;
    }
    if (line.ask == CommandLine::Ask::Version) {
        std::printf("%s %s\n", qPrintable(ui::kAppName), qPrintable(ui::kVersion));
        return false;
    }
    if (!line.ignored.empty()) {
        QByteArrayList ignored;
        for (const std::string& argument : line.ignored)
            ignored.append(QByteArray::fromStdString(argument));
        std::fprintf(stderr, "%s\n", qPrintable(ui::kIgnoredArgumentsText.arg(QFile::decodeName(ignored.join(' ')))));
    }

    if (!line.startFile) {
        m_doc.OnNewDocument();
    } else {
        // The name reaches the file system byte for byte.
        const QByteArray path = QByteArray::fromStdString(*line.startFile);
        const FileResult opened = m_doc.OnOpenDocument(path);
        if (!opened.Ok()) {
            m_prompts.Tell(nullptr,
                           ui::kOpenFailedText.arg(QDir::toNativeSeparators(QFile::decodeName(path)),
                                                   SystemErrorReason(opened)),
                           ui::kOpenFailedCaption, CUserPrompts::Icon::Warning);
            m_exitCode = 1;
            return false;
        }
        AddToRecentFiles(QFileInfo(m_doc.PathName()).absoluteFilePath());
    }

    m_frame = std::make_unique<CMainFrame>(*this, m_prompts);
    StartJournal();
    m_frame->show();
    // Once the window is up, and before the user can draw: first what a
    // fault left to recover, then the file the command line named.
    QTimer::singleShot(0, this, [this, toOpen = line.openFile] {
        OfferRecovery();
        if (toOpen && m_frame)
            m_frame->FileCommands()->OpenFile(QByteArray::fromStdString(*toOpen)); // byte for byte
    });
    return true;
}

QString CKavApp::JournalFolder()
{
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
    return base + QStringLiteral("/kav");
}

PointJournal* CKavApp::Journal() const
{
    return m_journal && m_journal->IsOpen() ? m_journal.get() : nullptr;
}

void CKavApp::ShowRecoveryUnavailable(const FileResult& failure)
{
    m_frame->statusBar()->showMessage(ui::kRecoveryUnavailableText.arg(SystemErrorReason(failure)));
}

void CKavApp::StartJournal()
{
    m_journal = std::make_unique<PointJournal>();
    // A big change written: a command that waits for it may start.
    m_journal->SetWrittenHandler([this] {
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (m_frame)
                    m_frame->FileCommands()->Recheck();
            },
            Qt::QueuedConnection);
    });
    // Told once, from whichever thread met it; shown on this one.
    m_journal->SetFailureHandler([this](FileResult failure) {
        QMetaObject::invokeMethod(this, [this, failure] { ShowRecoveryUnavailable(failure); }, Qt::QueuedConnection);
    });
    const FileResult opened = m_journal->Open(QFile::encodeName(JournalFolder()).toStdString());
    if (!opened.Ok()) {
        ShowRecoveryUnavailable(opened);
        return;
    }
    PointDocument& document = m_frame->View()->Document();
    document.SetObserver(PointDocument::Slot::Journal, m_journal.get());
    document.AddReader(m_journal.get());
    m_signals = std::make_unique<CTerminationSignals>([this] { KeepJournal(); });
    if (auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        connect(gui, &QGuiApplication::commitDataRequest, this, [this](QSessionManager&) { OnCommitData(); });
}

// A new figure still being written goes to disk first, then everything the
// kernel has; the journal is kept for the next start.
void CKavApp::KeepJournal()
{
    m_journal->WaitForThread();
    (void)m_journal->Sync(); // nobody is left to tell
}

void CKavApp::OnCommitData()
{
    m_sessionEnding = true;
    KeepJournal();
    // The desktop may cancel the logout, and it does not say so; the user
    // doing anything in the window again means it goes on.
    QCoreApplication::instance()->installEventFilter(this);
}

bool CKavApp::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (m_sessionEnding
        && (type == QEvent::KeyPress || type == QEvent::MouseButtonPress || type == QEvent::ShortcutOverride)) {
        m_sessionEnding = false;
        QCoreApplication::instance()->removeEventFilter(this);
    }
    return QObject::eventFilter(watched, event);
}

void CKavApp::OnMainFrameClose()
{
    if (m_journal && !m_sessionEnding) {
        PointDocument& document = m_frame->View()->Document();
        document.SetObserver(PointDocument::Slot::Journal, nullptr);
        document.RemoveReader(m_journal.get());
        m_journal->Discard();
    }
}

void CKavApp::OfferRecovery()
{
    PointJournal* journal = Journal();
    if (!journal || !m_frame)
        return;
    m_recovery = std::make_unique<CRecovery>(m_prompts, *m_frame, *journal,
                                             QFile::encodeName(JournalFolder()).toStdString());
    m_recovery->Start();
}

void CKavApp::OnAppAbout()
{
    m_prompts.ShowAbout(m_frame.get());
}

} // namespace kav
