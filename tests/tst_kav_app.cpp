#include "scripted_prompts.h"

#include "app/kav_app.h"
#include "app/main_frame.h"
#include "view/kav_view.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using kav::CKavApp;

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
        QVERIFY(app.InitInstance({QStringLiteral("kav")}));
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
        QVERIFY(app.InitInstance({QStringLiteral("kav"), path}));
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
            QVERIFY(app.InitInstance({QStringLiteral("kav"), path}));
        }
        ScriptedPrompts prompts;
        CKavApp again(prompts);
        QVERIFY(again.InitInstance({QStringLiteral("kav"), paths[3]})); // moves to the front
        QCOMPARE(CKavApp::RecentFiles(), (QStringList{paths[3], paths[5], paths[4], paths[2]}));
    }

    void aFileThatCannotBeOpenedEndsStartUp_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing") << m_dir.filePath(QStringLiteral("nie-ma.txt"))
                                 << QStringLiteral("Plik nie istnieje.");
        QTest::newRow("directory") << m_dir.path() << QStringLiteral("To jest katalog, nie plik.");
    }
    void aFileThatCannotBeOpenedEndsStartUp()
    {
        QFETCH(QString, path);
        QFETCH(QString, reason);
        ScriptedPrompts prompts;
        CKavApp app(prompts);
        QVERIFY(!app.InitInstance({QStringLiteral("kav"), path}));
        QVERIFY(app.ExitCode() != 0);
        QVERIFY(!app.MainFrame());
        QCOMPARE(prompts.Kinds(), QStringList{QStringLiteral("warning")});
        QVERIFY2(prompts.asked[0].text.contains(path), qPrintable(prompts.asked[0].text));
        QVERIFY2(prompts.asked[0].text.contains(reason), qPrintable(prompts.asked[0].text));
        QVERIFY(!CKavApp::RecentFiles().contains(path));
    }

    void switchesAreHandled()
    {
        ScriptedPrompts prompts;
        CKavApp version(prompts);
        QVERIFY(!version.InitInstance({QStringLiteral("kav"), QStringLiteral("--version")}));
        QCOMPARE(version.ExitCode(), 0);
        CKavApp unknown(prompts);
        QVERIFY(!unknown.InitInstance({QStringLiteral("kav"), QStringLiteral("--print")}));
        QVERIFY(unknown.ExitCode() != 0);
        CKavApp twoFiles(prompts);
        QVERIFY(!twoFiles.InitInstance({QStringLiteral("kav"), QStringLiteral("a"), QStringLiteral("b")}));
        QVERIFY(twoFiles.ExitCode() != 0);
        QVERIFY(!version.MainFrame() && !unknown.MainFrame() && !twoFiles.MainFrame());
        QVERIFY(prompts.asked.isEmpty());
    }

    void closingTheWindowAsksNothing()
    {
        ScriptedPrompts prompts;
        CKavApp app(prompts);
        QVERIFY(app.InitInstance({QStringLiteral("kav")}));
        QVERIFY(app.MainFrame()->View()->Store().AppendPoint({1, 1}));
        QVERIFY(app.MainFrame()->close());
        QVERIFY(prompts.asked.isEmpty());
    }
};

QTEST_MAIN(TestKavApp)
#include "tst_kav_app.moc"
