#include "scripted_prompts.h"

#include "app/kav_app.h"
#include "app/main_frame.h"
#include "res/strings.h"
#include "view/kav_view.h"

#include <QSettings>
#include <QTemporaryDir>
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
        QCOMPARE(CKavApp::RecentFiles().front(), path);
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
        QCOMPARE(CKavApp::RecentFiles(), (QStringList{paths[3], paths[5], paths[4], paths[2]}));
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
        QVERIFY(!CKavApp::RecentFiles().contains(QFile::decodeName(path)));
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
        QCOMPARE(app.MainFrame()->View()->Store().ActivePoints().size(), points);
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
        QVERIFY(app.MainFrame()->View()->Store().AppendPoint({1, 1}));
        QVERIFY(app.MainFrame()->close());
        QVERIFY(prompts.asked.isEmpty());
    }
};

QTEST_MAIN(TestKavApp)
#include "tst_kav_app.moc"
