#include "app/kav_app.h"

#include "app/main_frame.h"
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
#include <QSettings>
#include <QStatusBar>
#include <QTimer>
#include <QTranslator>

#include <cstdio>

namespace kav {

namespace {

const QString kRecentGroup = QStringLiteral("Recent File List");

QSettings Profile()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, ui::kOrganization, ui::kAppName);
}

} // namespace

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
    // Like a desktop's launcher expects: the first file name counts, and
    // further names and unknown switches are passed over with one warning.
    QByteArrayList files;
    QByteArrayList ignored;
    QByteArrayList toOpen; // --open's files, read into the view
    bool help = false;
    bool version = false;
    bool options = true;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QByteArray& argument = arguments.at(i);
        if (options && argument == "--")
            options = false;
        else if (options && (argument == "-o" || argument == "--open")) {
            // The file is the next argument, as getopt takes it; a switch
            // without one asks for nothing.
            if (++i < arguments.size())
                toOpen.append(arguments.at(i));
        } else if (options && argument.startsWith("--open=")) {
            if (argument.size() > 7)
                toOpen.append(argument.mid(7));
        } else if (options && (argument == "-h" || argument == "--help" || argument == "-?"))
            help = true;
        else if (options && (argument == "-v" || argument == "--version"))
            version = true;
        else if (options && argument.size() > 1 && argument.startsWith('-'))
            ignored.append(argument);
        else
            files.append(argument);
    }
    if (help) {
        std::fputs(ui::kHelpText.toLocal8Bit().constData(), stdout);
        return false;
    }
    if (version) {
        std::printf("%s %s\n", qPrintable(ui::kAppName), qPrintable(ui::kVersion));
        return false;
    }
    // A launcher passes one file; with --open it goes to the view, and the
    // plain start-up file is not taken as well.
    if (!toOpen.isEmpty()) {
        ignored += toOpen.mid(1) + files;
        files.clear();
    }
    ignored += files.mid(1);
    if (!ignored.isEmpty())
        std::fprintf(stderr, "%s\n", qPrintable(ui::kIgnoredArgumentsText.arg(QFile::decodeName(ignored.join(' ')))));

    if (files.isEmpty()) {
        m_doc.OnNewDocument();
    } else {
        // The name reaches the file system byte for byte.
        const QByteArray& path = files.front();
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
    QTimer::singleShot(0, this, [this, toOpen] {
        OfferRecovery();
        if (!toOpen.isEmpty() && m_frame)
            m_frame->View()->OpenFile(toOpen.front()); // byte for byte
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
                    m_frame->View()->Recheck();
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

QStringList CKavApp::RecentFiles()
{
    QSettings profile = Profile();
    profile.beginGroup(kRecentGroup);
    QStringList files;
    for (int i = 1; i <= kMaxRecentFiles; ++i) {
        const QString file = profile.value(QStringLiteral("File%1").arg(i)).toString();
        if (!file.isEmpty())
            files.append(file);
    }
    return files;
}

void CKavApp::AddToRecentFiles(const QString& path)
{
    QStringList files = RecentFiles();
    files.removeAll(path);
    files.prepend(path);
    QSettings profile = Profile();
    profile.beginGroup(kRecentGroup);
    for (int i = 1; i <= kMaxRecentFiles; ++i) {
        const QString key = QStringLiteral("File%1").arg(i);
        if (i <= files.size())
            profile.setValue(key, files.at(i - 1));
        else
            profile.remove(key);
    }
}

void CKavApp::OnAppAbout()
{
    m_prompts.ShowAbout(m_frame.get());
}

} // namespace kav
