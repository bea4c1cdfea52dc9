#include "scripted_prompts.h"

#include "app/kav_app.h"
#include "app/main_frame.h"
#include "app/recent_files.h"
#include "res/strings.h"
#include "view/kav_view.h"
#include "exchange/point_journal.h"

#include <QDir>
#include <QStatusBar>
#include <QSettings>
#include <QTemporaryDir>
#include <QScopeGuard>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using kav::CKavApp;

namespace {

// A command line as the system hands it over.
QByteArrayList CommandLine(const QStringList& arguments)
{
    QByteArrayList bytes{"kav"};
    for (const QString& argument : arguments)
        bytes.append(QFile::encodeName(argument));
    return bytes;
}

} // namespace

class TestKavApp : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<QTemporaryDir> m_state;

    // A journal that an instance left when it died, holding `points`.
    static std::string LeaveJournal(const std::vector<kav::Point>& points)
    {
        kav::PointJournal journal;
        if (!journal.Open(Folder()).Ok())
            qFatal("no journal");
        kav::PointStore store;
        for (const kav::Point& p : points) {
            if (!store.AppendPoint(p))
                qFatal("no room");
            journal.Record(kav::PointChange::Append(p), store.ActivePoints());
        }
        return journal.JournalPath();
    }
    static void SetModified(const std::string& path, const QDateTime& when)
    {
        QFile file(QString::fromStdString(path));
        if (!file.open(QIODevice::ReadWrite) || !file.setFileTime(when, QFileDevice::FileModificationTime))
            qFatal("cannot set the time of %s", path.c_str());
    }
    // The offer starts once the event loop runs, and ends when answered.
    static void WaitForRecovery(CKavApp& app)
    {
        QCoreApplication::processEvents();
        QTRY_VERIFY_WITH_TIMEOUT(!app.MainFrame()->View()->CommandRunning(), 20000);
    }
    static std::string Folder() { return QFile::encodeName(CKavApp::JournalFolder()).toStdString(); }
    static QStringList Journals()
    {
        return QDir(CKavApp::JournalFolder()).entryList(QDir::Files, QDir::Name);
    }

    QString MakeFile(const QString& name, const QByteArray& contents)
    {
        const QString path = m_dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        // Settings go to a temporary folder, not to the user's profile.
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.filePath(QStringLiteral("config")));
    }
    // Each test sees only its own recovery journals.
    void init()
    {
        m_state = std::make_unique<QTemporaryDir>();
        qputenv("XDG_STATE_HOME", QFile::encodeName(m_state->path()));
    }

    void startsWithAnEmptyWindow()
    {
        ScriptedPrompts prompts;
        CKavApp app(prompts);
        QVERIFY(app.InitInstance(CommandLine({})));
        QVERIFY(app.MainFrame());
        QVERIFY(app.MainFrame()->isVisible());
        QCOMPARE(app.MainFrame()->windowTitle(), QStringLiteral("KAV Edytor"));
        QVERIFY(app.MainFrame()->View()->Store().ActivePoints().empty());
        QVERIFY(app.Document().PathName().isEmpty());
        QVERIFY(prompts.asked.isEmpty());
    }

    void anExistingFileIsRecordedButNotRead()
    {
        const QByteArray contents = "10 20 30 40";
        const QString path = MakeFile(QStringLiteral("points.txt"), contents);
        ScriptedPrompts prompts;
        CKavApp app(prompts);
        QVERIFY(app.InitInstance(CommandLine({path})));
        QVERIFY(app.MainFrame()->View()->Store().ActivePoints().empty());
        QCOMPARE(app.Document().PathName(), path);
        QCOMPARE(kav::RecentFiles().front(), path);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), contents);
    }

    void recentFilesKeepTheNewestFour()
    {
        QStringList paths;
        for (int i = 0; i < 6; ++i)
            paths << MakeFile(QStringLiteral("recent%1.txt").arg(i), "1 2");
        for (const QString& path : paths) {
            ScriptedPrompts prompts;
            CKavApp app(prompts);
            QVERIFY(app.InitInstance(CommandLine({path})));
        }
        ScriptedPrompts prompts;
        CKavApp again(prompts);
        QVERIFY(again.InitInstance(CommandLine({paths[3]}))); // moves to the front
        QCOMPARE(kav::RecentFiles(), (QStringList{paths[3], paths[5], paths[4], paths[2]}));
    }

    void aFileThatCannotBeOpenedEndsStartUp_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing") << QFile::encodeName(m_dir.filePath(QStringLiteral("nie-ma.txt")))
                                 << kav::ui::kReasonMissing;
        QTest::newRow("directory") << QFile::encodeName(m_dir.path()) << QStringLiteral("To jest katalog, nie plik.");
        QTest::newRow("longer than PATH_MAX")
            << QFile::encodeName(m_dir.path()) + "/" + QByteArray(5000, 'a') << kav::ui::kReasonNameTooLong;
    }
    void aFileThatCannotBeOpenedEndsStartUp()
    {
        QFETCH(QByteArray, path);
        QFETCH(QString, reason);
        ScriptedPrompts prompts;
        CKavApp app(prompts);
        QVERIFY(!app.InitInstance({"kav", path}));
        QVERIFY(app.ExitCode() != 0);
        QVERIFY(!app.MainFrame());
        QCOMPARE(prompts.Kinds(), QStringList{QStringLiteral("warning")});
        QVERIFY2(prompts.asked[0].text.contains(QFile::decodeName(path.left(200))), qPrintable(prompts.asked[0].text));
        QVERIFY2(prompts.asked[0].text.contains(reason), qPrintable(prompts.asked[0].text));
        QVERIFY(!kav::RecentFiles().contains(QFile::decodeName(path)));
    }

    // What a launcher or a shell may pass; only the first file name counts.
    void theCommandLineOpensTheFirstFile_data()
    {
        const QByteArray a = QFile::encodeName(MakeFile(QStringLiteral("a.txt"), "1 2"));
        const QByteArray b = QFile::encodeName(MakeFile(QStringLiteral("b.txt"), "3 4"));
        // A name that is not valid UTF-8 reaches the file system byte for byte.
        const QByteArray raw = QFile::encodeName(m_dir.path()) + "/\xff\xfe-punkty.txt";
        ::unlink(raw.constData());
        const int fd = ::open(raw.constData(), O_CREAT | O_WRONLY, 0644);
        QVERIFY(fd >= 0);
        ::close(fd);
        // A pipe that no one writes to is opened without waiting for a writer.
        const QByteArray fifo = QFile::encodeName(m_dir.filePath(QStringLiteral("fifo")));
        ::unlink(fifo.constData());
        QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);

        QTest::addColumn<QByteArrayList>("arguments");
        QTest::addColumn<bool>("window");
        QTest::addColumn<QByteArray>("opened");
        QTest::newRow("--version") << QByteArrayList{"--version"} << false << QByteArray();
        QTest::newRow("--help") << QByteArrayList{"--help"} << false << QByteArray();
        QTest::newRow("two files") << QByteArrayList{a, b} << true << a;
        QTest::newRow("unknown switch") << QByteArrayList{"--print", a} << true << a;
        QTest::newRow("only an unknown switch") << QByteArrayList{"-x"} << true << QByteArray();
        QTest::newRow("a name after --") << QByteArrayList{"--", a, "--help"} << true << a;
        QTest::newRow("not UTF-8") << QByteArrayList{raw} << true << raw;
        QTest::newRow("pipe without a writer") << QByteArrayList{fifo} << true << fifo;
    }
    void theCommandLineOpensTheFirstFile()
    {
        QFETCH(QByteArrayList, arguments);
        QFETCH(bool, window);
        QFETCH(QByteArray, opened);
        ScriptedPrompts prompts;
        CKavApp app(prompts);
        QCOMPARE(app.InitInstance(QByteArrayList{"kav"} + arguments), window);
        QCOMPARE(app.ExitCode(), 0);
        QCOMPARE(app.MainFrame() != nullptr, window);
        QCOMPARE(app.Document().PathName(), QFile::decodeName(opened));
        QVERIFY(prompts.asked.isEmpty());
    }

    // --open reads the file into the view once the window is up, as the
    // Open command does; a plain name is then not taken as well.
    void openReadsTheFileIntoTheView_data()
    {
        const QByteArray points = QFile::encodeName(MakeFile(QStringLiteral("open.txt"), "10 20 30 40 50"));
        const QByteArray other = QFile::encodeName(MakeFile(QStringLiteral("other.txt"), "1 2"));
        const QByteArray missing = QFile::encodeName(m_dir.filePath(QStringLiteral("brak.txt")));
        QTest::addColumn<QByteArrayList>("arguments");
        QTest::addColumn<std::size_t>("points");
        QTest::addColumn<QStringList>("asked");
        QTest::newRow("--open") << QByteArrayList{"--open", points} << std::size_t{3} << QStringList();
        QTest::newRow("-o") << QByteArrayList{"-o", points} << std::size_t{3} << QStringList();
        QTest::newRow("--open=") << QByteArrayList{"--open=" + points} << std::size_t{3} << QStringList();
        QTest::newRow("and a plain name") << QByteArrayList{other, "-o", points} << std::size_t{3} << QStringList();
        QTest::newRow("no file") << QByteArrayList{"--open"} << std::size_t{0} << QStringList();
        // Windows-1250 "łódź": not UTF-8, read byte for byte all the same.
        const QByteArray raw = QFile::encodeName(m_dir.path()) + "/\xb3\xf3" "d\x9f.txt";
        const int fd = ::open(raw.constData(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        QVERIFY(fd >= 0 && ::write(fd, "5 6 7 8", 7) == 7);
        ::close(fd);
        QTest::newRow("not UTF-8") << QByteArrayList{"--open", raw} << std::size_t{2} << QStringList();
        QTest::newRow("unreadable") << QByteArrayList{"--open", missing} << std::size_t{0}
                                    << QStringList{QStringLiteral("warning")};
    }
    void openReadsTheFileIntoTheView()
    {
        QFETCH(QByteArrayList, arguments);
        QFETCH(std::size_t, points);
        QFETCH(QStringList, asked);
        ScriptedPrompts prompts;
        CKavApp app(prompts);
        QVERIFY(app.InitInstance(QByteArrayList{"kav"} + arguments));
        QVERIFY(app.MainFrame()->View()->Store().ActivePoints().empty()); // not before the event loop
        QCoreApplication::processEvents();
        QVERIFY(app.MainFrame()->isVisible());
        QTRY_COMPARE(app.MainFrame()->View()->Store().ActivePoints().size(), points);
        QCOMPARE(prompts.Kinds(), asked);
        if (!asked.isEmpty())
            QCOMPARE(prompts.asked[0].text,
                     kav::ui::kOpenFailedText.arg(QFile::decodeName(arguments.back()), kav::ui::kReasonMissing));
        QVERIFY(app.Document().PathName().isEmpty());
    }

    void closingTheWindowAsksNothing()
    {
        ScriptedPrompts prompts;
        CKavApp app(prompts);
        QVERIFY(app.InitInstance(CommandLine({})));
        QVERIFY(app.MainFrame()->View()->Apply(kav::PointChange::Append({1, 1})));
        QVERIFY(!Journals().isEmpty());
        QVERIFY(app.MainFrame()->close());
        QVERIFY(prompts.asked.isEmpty());
        QTRY_COMPARE(Journals(), QStringList()); // nothing to recover after a normal close
    }

    // At a logout the journal stays for the next start; once the user works
    // on (the desktop cancelled the logout), a close removes it again.
    void aCancelledLogoutIsForgotten_data()
    {
        QTest::addColumn<bool>("userGoesOn");
        QTest::newRow("logout goes on") << false;
        QTest::newRow("logout cancelled") << true;
    }
    void aCancelledLogoutIsForgotten()
    {
        QFETCH(bool, userGoesOn);
        ScriptedPrompts prompts;
        CKavApp app(prompts);
        QVERIFY(app.InitInstance(CommandLine({})));
        QVERIFY(app.MainFrame()->View()->Apply(kav::PointChange::Append({1, 1})));
        app.OnCommitData();
        if (userGoesOn)
            QTest::keyClick(app.MainFrame()->View(), Qt::Key_Left);
        QVERIFY(app.MainFrame()->close());
        if (userGoesOn)
            QTRY_COMPARE(Journals(), QStringList());
        else
            QCOMPARE(Journals().size(), 2); // the journal and its lock
        for (const QString& name : Journals())
            QFile::remove(QDir(CKavApp::JournalFolder()).filePath(name));
    }

    // After a fault, the next start offers the figure once; what holds
    // nothing or cannot be read is never offered, and neither is the
    // journal of an instance that still runs.
    void aDeadInstancesFigureIsOffered_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("yes");
        QTest::addColumn<bool>("asked");
        QTest::addColumn<int>("points");
        QTest::addColumn<int>("journalsLeft"); // besides the new instance's own
        QTest::newRow("Tak") << "dead" << true << true << 3 << 0;
        QTest::newRow("Nie") << "dead" << false << true << 0 << 0;
        QTest::newRow("holds no points") << "empty" << true << false << 0 << 0;
        QTest::newRow("damaged") << "damaged" << true << false << 0 << 1; // moved aside
        QTest::newRow("still running") << "alive" << true << false << 0 << 2;
        QTest::newRow("two dead: the newest") << "two" << true << true << 3 << 2;
    }
    void aDeadInstancesFigureIsOffered()
    {
        QFETCH(QString, kind);
        QFETCH(bool, yes);
        QFETCH(bool, asked);
        QFETCH(int, points);
        QFETCH(int, journalsLeft);
        const std::vector<kav::Point> figure{{10, 10}, {200, 30}, {10, 10}};
        std::unique_ptr<kav::PointJournal> alive;
        if (kind == "alive") {
            alive = std::make_unique<kav::PointJournal>();
            QVERIFY(alive->Open(Folder()).Ok());
            alive->Record(kav::PointChange::Append({1, 1}), std::vector<kav::Point>{{1, 1}});
        }
        if (kind == "two")
            SetModified(LeaveJournal({{5, 5}}), QDateTime(QDate(2026, 1, 1), QTime(8, 0)));
        if (kind != "alive") {
            const std::string path = LeaveJournal(kind == "empty" ? std::vector<kav::Point>{} : figure);
            if (kind == "damaged")
                QVERIFY(QFile::resize(QString::fromStdString(path), 30));
            SetModified(path, QDateTime(QDate(2026, 12, 7), QTime(15, 20)));
        }

        ScriptedPrompts prompts;
        prompts.yesNo = {yes};
        CKavApp app(prompts);
        QVERIFY(app.InitInstance(CommandLine({})));
        WaitForRecovery(app);
        const QStringList expected = asked ? QStringList{QStringLiteral("question")} : QStringList();
        QCOMPARE(prompts.Kinds(), expected);
        if (asked) {
            QCOMPARE(prompts.asked[0].caption, QStringLiteral("Przywrócić?"));
            QCOMPARE(prompts.asked[0].text, QStringLiteral("Program zakończył pracę nieoczekiwanie (7.12.2026 "
                                                           "15:20). Przywrócić narysowane punkty (3)?"));
        }
        const auto shown = app.MainFrame()->View()->Store().ActivePoints();
        QCOMPARE(int(shown.size()), points);
        if (points > 0) {
            QVERIFY(std::equal(shown.begin(), shown.end(), figure.begin()));
            // The recovered journal is this instance's own now.
            kav::PointStore own;
            QVERIFY(kav::ReadJournal(app.Journal()->JournalPath(), own).result.Ok());
            QCOMPARE(own.ActivePoints().size(), figure.size());
        }
        QCOMPARE(Journals().size(), 2 + journalsLeft); // its journal and lock, and what stays
        // A third start has nothing more to ask about this one.
        QVERIFY(app.MainFrame()->close());
        if (alive)
            alive->Discard();
        ScriptedPrompts again;
        CKavApp third(again);
        QVERIFY(third.InitInstance(CommandLine({})));
        WaitForRecovery(third);
        QCOMPARE(again.Kinds(), kind == "two" ? QStringList{QStringLiteral("question")} : QStringList());
    }

    // A large figure is read on a thread, with its progress shown. Anuluj,
    // or a figure too large for the memory there is now, asks nothing and
    // keeps the journal for the next start; the latter is told.
    void aJournalNotReadNowIsKept_data()
    {
        QTest::addColumn<std::size_t>("points");
        QTest::addColumn<QByteArray>("memoryMb"); // the stand-in for what is available
        QTest::addColumn<int>("cancelAfter");
        QTest::addColumn<QString>("told");
        QTest::newRow("Anuluj") << (std::size_t{8} << 20) << QByteArray() << 0 << QString();
        QTest::newRow("too large for memory")
            << (std::size_t{1} << 20) << QByteArray("259") << -1 << kav::ui::kRecoveryNoMemoryText;
    }
    void aJournalNotReadNowIsKept()
    {
        QFETCH(std::size_t, points);
        QFETCH(QByteArray, memoryMb);
        QFETCH(int, cancelAfter);
        QFETCH(QString, told);
        {
            kav::PointJournal dead;
            QVERIFY(dead.Open(Folder()).Ok());
            kav::PointStore figure;
            QVERIFY(figure.AppendPoints(std::vector<kav::Point>(points, kav::Point{7, 7})));
            dead.Record(kav::PointChange::ReplaceAll(figure), figure.ActivePoints());
            dead.WaitForThread();
        } // ends without Discard, as a crash would
        if (!memoryMb.isEmpty())
            qputenv("KAV_MEMORY_AVAILABLE_MB", memoryMb);
        const auto unset = qScopeGuard([] { qunsetenv("KAV_MEMORY_AVAILABLE_MB"); });
        ScriptedPrompts prompts;
        prompts.cancelProgressAfter = cancelAfter;
        CKavApp app(prompts);
        QVERIFY(app.InitInstance(CommandLine({})));
        WaitForRecovery(app);
        QCOMPARE(prompts.progressText, kav::ui::kRecoveryReadingText);
        QCOMPARE(prompts.Kinds(), QStringList());
        QCOMPARE(app.MainFrame()->statusBar()->currentMessage(), told);
        QVERIFY(app.MainFrame()->View()->Store().ActivePoints().empty());
        QCOMPARE(Journals().size(), 4); // its own journal and lock, and the dead instance's
    }

    // Without a folder for the journal, the editor works as before and says
    // so once, in the status bar.
    void aJournalFolderThatCannotBeMadeIsToldOnce()
    {
        QFile blocker(m_state->filePath(QStringLiteral("file")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        qputenv("XDG_STATE_HOME", QFile::encodeName(blocker.fileName()));
        ScriptedPrompts prompts;
        CKavApp app(prompts);
        QVERIFY(app.InitInstance(CommandLine({})));
        QCOMPARE(app.MainFrame()->statusBar()->currentMessage(),
                 QStringLiteral("Przywracanie rysunku po awarii jest niedostępne. Część ścieżki nie jest katalogiem."));
        QVERIFY(!app.Journal());
        QTest::mouseClick(app.MainFrame()->View(), Qt::LeftButton, {}, QPoint(20, 20));
        QCOMPARE(app.MainFrame()->View()->Store().ActivePoints().size(), std::size_t{1});
        QVERIFY(prompts.asked.isEmpty());
    }
};

QTEST_MAIN(TestKavApp)
#include "tst_kav_app.moc"
