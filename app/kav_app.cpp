#include "app/kav_app.h"

#include "app/main_frame.h"
#include "res/strings.h"
#include "view/kav_view.h"
#include "view/user_prompts.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QSettings>
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

CKavApp::~CKavApp() = default;

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
        QString reason;
        if (!m_doc.OnOpenDocument(path, &reason)) {
            m_prompts.Tell(nullptr, ui::kOpenFailedText.arg(QDir::toNativeSeparators(QFile::decodeName(path)), reason),
                           ui::kOpenFailedCaption, CUserPrompts::Icon::Warning);
            m_exitCode = 1;
            return false;
        }
        AddToRecentFiles(QFileInfo(m_doc.PathName()).absoluteFilePath());
    }

    m_frame = std::make_unique<CMainFrame>(*this, m_prompts);
    m_frame->show();
    if (!toOpen.isEmpty()) {
        // Once the event loop runs, so that the window is up under the
        // command's questions, messages and progress.
        const QString path = QFile::decodeName(toOpen.front());
        QMetaObject::invokeMethod(
            m_frame->View(), [view = m_frame->View(), path] { view->OpenPoints(path); }, Qt::QueuedConnection);
    }
    return true;
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
