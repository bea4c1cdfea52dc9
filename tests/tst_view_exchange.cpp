#include "paint_counter.h"
#include "failing_calls.h"
#include "scripted_prompts.h"

#include "app/memory_limit.h"
#include "exchange/file_commands.h"
#include "exchange/file_errors.h"
#include "exchange/point_file.h"
#include "res/strings.h"
#include "view/kav_view.h"

#include <QDir>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <sstream>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using kav::CKavView;
using kav::FileHandle;
using kav::Point;
using kav::SaveFormat;

namespace {

using Points = std::vector<Point>;

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void WriteAll(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

} // namespace

class TestViewExchange : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    ScriptedPrompts* m_prompts = nullptr;
    CKavView* m_view = nullptr;
    kav::CFileCommands* m_files = nullptr;

    Points Stored() const
    {
        const auto points = m_view->Store().ActivePoints();
        return {points.begin(), points.end()};
    }
    void Store(const Points& points)
    {
        for (const Point& p : points)
            QVERIFY(m_view->Apply(kav::PointChange::Append(p)));
    }
    QString Path(const QString& name) const { return m_dir.filePath(name); }
    // A command returns to the event loop at once; its job ends later.
    void WaitForCommand() { QTRY_VERIFY_WITH_TIMEOUT(!m_view->CommandRunning(), 60000); }
    void Save(const QString& path, SaveFormat format)
    {
        m_prompts->formats = {format};
        m_prompts->savePaths = {path};
        m_files->OnPointsSave();
        WaitForCommand();
    }
    void Open(const QString& path, bool yes = true)
    {
        m_prompts->openPaths = {path};
        m_prompts->yesNo = {yes};
        m_files->OnPointsOpen();
        WaitForCommand();
    }
    // Many points at once, as an Open would give them.
    void StoreMany(const Points& points)
    {
        kav::PointStore many;
        QVERIFY(many.AppendPoints(points));
        QVERIFY(m_view->Apply(kav::PointChange::AppendAll(many)));
    }
    void MakeView(kav::PointReallocator reallocate)
    {
        delete m_files;
        delete m_view;
        m_view = new CKavView(*m_prompts, nullptr, reallocate);
        m_files = new kav::CFileCommands(*m_view, m_view->Document(), *m_prompts, m_view->Commands());
        m_view->resize(400, 300);
    }
    QStringList DirectoryEntries() const
    {
        return QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    // The export from nothing to every format, a refused target, and an
    // underlay dropped on the view that then shows under the figure.
    void exportAndUnderlayWalk()
    {
        m_files->SetShownPicture([this] { return m_view->Shown(); });
        m_files->OnExport();
        QCOMPARE(m_prompts->Kinds(), QStringList{"notice"});
        QCOMPARE(m_prompts->asked.back().text, kav::ui::kNoPointsText);
        Store({{10, 10}, {90, 10}, {90, 60}, {10, 10}});

        m_prompts->exportPaths = {{Path(QStringLiteral("plan")), kav::ExportFormat::Dxf}};
        m_files->OnExport();
        WaitForCommand();
        QVERIFY(ReadAll(Path(QStringLiteral("plan.dxf"))).contains("LWPOLYLINE"));
        m_prompts->exportPaths = {{Path(QStringLiteral("plan.svg")), kav::ExportFormat::Png}};
        m_files->OnExport();
        WaitForCommand();
        QVERIFY(ReadAll(Path(QStringLiteral("plan.svg"))).contains("<polyline"));
        m_prompts->exportPaths = {{Path(QStringLiteral("shown")), kav::ExportFormat::Png}};
        m_files->OnExport();
        WaitForCommand();
        const QImage png(Path(QStringLiteral("shown.png")));
        QCOMPARE(png.convertToFormat(QImage::Format_RGB32), m_view->grab().toImage().convertToFormat(QImage::Format_RGB32));
        QCOMPARE(png.pixel(50, 10), qRgb(0, 0, 0));

        const QString locked = Path(QStringLiteral("locked.svg"));
        WriteAll(locked, "old");
        QVERIFY(::chmod(QFile::encodeName(locked).constData(), 0444) == 0);
        m_prompts->exportPaths = {{locked, kav::ExportFormat::Svg}};
        m_files->OnExport();
        WaitForCommand();
        QCOMPARE(m_prompts->asked.back().kind, QStringLiteral("warning"));
        QCOMPARE(ReadAll(locked), QByteArray("old"));
        QCOMPARE(DirectoryEntries(), (QStringList{"locked.svg", "plan.dxf", "plan.svg", "shown.png"}));

        QImage image(200, 100, QImage::Format_RGB32);
        image.fill(qRgb(200, 220, 255));
        const QString picture = Path(QStringLiteral("scan.jpg"));
        QVERIFY(image.save(picture, "PNG"));
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(picture)});
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(m_view, &enter);
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QObject::connect(m_files, &kav::CFileCommands::UnderlayLoaded, m_view, &CKavView::SetUnderlay);
        QCoreApplication::sendEvent(m_view, &drop);
        QTRY_VERIFY(m_view->CurrentUnderlay() != nullptr);
        QCOMPARE(Stored().size(), 4u); // no Open
        const QImage shown = m_view->ShownImage();
        QCOMPARE(shown.pixel(50, 50), qRgb(200, 220, 255)); // the underlay
        QCOMPARE(shown.pixel(50, 10), qRgb(0, 0, 0)); // the line over it
        QCOMPARE(shown.pixel(300, 200), qRgb(255, 255, 255)); // beyond the image
        // Drawn on the export's thread, the PNG is what the view paints.
        m_prompts->exportPaths = {{Path(QStringLiteral("traced")), kav::ExportFormat::Png}};
        m_files->OnExport();
        WaitForCommand();
        QCOMPARE(QImage(Path(QStringLiteral("traced.png"))).convertToFormat(QImage::Format_RGB32),
                 m_view->grab().toImage().convertToFormat(QImage::Format_RGB32));
        m_view->OnShowUnderlay(false);
        QCOMPARE(m_view->ShownImage().pixel(50, 50), qRgb(255, 255, 255));

        m_files->LoadUnderlay(Path(QStringLiteral("plan.dxf")));
        WaitForCommand();
        QCOMPARE(m_prompts->asked.back().caption, kav::ui::kUnderlayFailedCaption);
    }
    void init()
    {
        m_prompts = new ScriptedPrompts;
        MakeView(&kav::ReallocatePoints);
    }
    void cleanup()
    {
        delete std::exchange(m_files, nullptr);
        delete std::exchange(m_view, nullptr);
        delete m_prompts;
        for (const QString& name : DirectoryEntries())
            QFile::remove(Path(name));
    }

    void saveWithNoPointsOnlySaysSo()
    {
        m_files->OnPointsSave();
        QCOMPARE(m_prompts->Kinds(), QStringList{QStringLiteral("notice")});
        QCOMPARE(m_prompts->asked[0].text, QStringLiteral("Brak punktów do zapisu"));
        QCOMPARE(m_prompts->asked[0].caption, QStringLiteral("Brak punktów"));
    }

    void cancellingEitherDialogWritesNothing()
    {
        Store({{1, 2}});
        m_files->OnPointsSave(); // the format dialog cancelled
        QCOMPARE(m_prompts->Kinds(), QStringList{QStringLiteral("format")});
        m_prompts->asked.clear();
        m_prompts->formats = {SaveFormat{}};
        m_files->OnPointsSave(); // the file dialog cancelled
        QCOMPARE(m_prompts->Kinds(), (QStringList{"format", "savePath"}));
        QVERIFY(DirectoryEntries().isEmpty());
    }

    void roundTripsInEveryFormatAndOrder_data()
    {
        QTest::addColumn<char>("sepX");
        QTest::addColumn<char>("sepY");
        QTest::addColumn<int>("order");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("space") << ' ' << ' ' << 1 << QByteArray("10 20 30 40 50 60");
        QTest::newRow("comma") << ',' << ',' << 1 << QByteArray("10,20,30,40,50,60");
        QTest::newRow("user") << ';' << '|' << 1 << QByteArray("10;20|30;40|50;60");
        QTest::newRow("empty fields") << '\0' << '\0' << 1
                                      << QByteArray("10\0"
                                                    "20\0"
                                                    "30\0"
                                                    "40\0"
                                                    "50\0"
                                                    "60",
                                                    17);
        QTest::newRow("polish letter") << '\xB9' << '\xB3' << 1
                                       << QByteArray("10\xB9"
                                                     "20\xB3"
                                                     "30\xB9"
                                                     "40\xB3"
                                                     "50\xB9"
                                                     "60");
        QTest::newRow("space reverse") << ' ' << ' ' << 2 << QByteArray("50 60 30 40 10 20");
        QTest::newRow("comma reverse") << ',' << ',' << 2 << QByteArray("50,60,30,40,10,20");
        QTest::newRow("user reverse") << ';' << '|' << 2 << QByteArray("50;60|30;40|10;20");
    }
    void roundTripsInEveryFormatAndOrder()
    {
        QFETCH(char, sepX);
        QFETCH(char, sepY);
        QFETCH(int, order);
        QFETCH(QByteArray, bytes);
        const Points figure = {{10, 20}, {30, 40}, {50, 60}};
        Store(figure);
        const QString path = Path(QStringLiteral("figure.txt"));
        Save(path, {sepX, sepY, order});
        QCOMPARE(ReadAll(path), bytes);
        QCOMPARE(m_prompts->Kinds(), (QStringList{"format", "savePath"}));

        Open(path, true); // replace the stored points
        Points expected = figure;
        if (order == 2)
            std::reverse(expected.begin(), expected.end());
        QCOMPARE(Stored(), expected);
        QCOMPARE(m_prompts->asked.last().text, QStringLiteral("Czy usunąć isniejące punkty?"));
        QCOMPARE(m_prompts->asked.last().caption, QStringLiteral("Usunąć?"));
    }

    void savingReplacesAnExistingFile()
    {
        const QString path = Path(QStringLiteral("old.txt"));
        WriteAll(path, "a much longer old content than the new one");
        Store({{1, 2}});
        Save(path, {});
        QCOMPARE(ReadAll(path), QByteArray("1 2"));
        QCOMPARE(DirectoryEntries(), QStringList{QStringLiteral("old.txt")});
    }

    void openAsksOnlyWhenPointsExistAndAppendsOnNo()
    {
        const QString path = Path(QStringLiteral("two.txt"));
        WriteAll(path, "7 8 9 10");
        Open(path);
        QCOMPARE(m_prompts->Kinds(), QStringList{QStringLiteral("openPath")}); // no question
        QCOMPARE(Stored(), (Points{{7, 8}, {9, 10}}));

        m_view->Apply(kav::PointChange::Clear());
        Store({{1, 1}, {2, 2}, {3, 3}});
        Open(path, false);
        QCOMPARE(Stored(), (Points{{1, 1}, {2, 2}, {3, 3}, {7, 8}, {9, 10}}));
    }

    void loadsGoIntoTheActiveBuffer()
    {
        QByteArray many;
        for (int i = 0; i < 300; ++i)
            many += QByteArray::number(i) + ' ' + QByteArray::number(i + 1) + '\n';
        const QString path = Path(QStringLiteral("300.txt"));
        WriteAll(path, many);
        Open(path);
        QVERIFY(!m_view->Store().State().useA);
        QCOMPARE(m_view->Store().State().countB, 300);
        QCOMPARE(Stored().back(), (Point{299, 300}));

        m_view->Apply(kav::PointChange::Clear()); // B stays active
        WriteAll(path, "5 6");
        Open(path);
        QVERIFY(!m_view->Store().State().useA);
        QCOMPARE(Stored(), (Points{{5, 6}}));
    }

    void aLoadRepaints()
    {
        const QString path = Path(QStringLiteral("repaint.txt"));
        WriteAll(path, "10 10 100 100");
        m_view->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_view));
        QTest::qWait(20);
        PaintCounter counter;
        m_view->installEventFilter(&counter);
        Open(path);
        QTRY_VERIFY(counter.paints > 0);
        m_view->removeEventFilter(&counter);
    }

    void unopenableFilesAreReportedAndCostNothing_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing") << m_dir.filePath(QStringLiteral("missing.txt")) << kav::ui::kReasonMissing;
        QTest::newRow("directory") << m_dir.path() << kav::ui::kReasonDirectory;
    }
    void unopenableFilesAreReportedAndCostNothing()
    {
        QFETCH(QString, path);
        QFETCH(QString, reason);
        Store({{1, 2}, {3, 4}});
        Open(path, true);
        QCOMPARE(m_prompts->Kinds(), (QStringList{"openPath", "warning"})); // no question
        QVERIFY(m_prompts->asked[1].text.contains(QDir::toNativeSeparators(path)));
        QVERIFY(m_prompts->asked[1].text.contains(reason));
        QCOMPARE(Stored(), (Points{{1, 2}, {3, 4}}));
    }

    void aFileWithoutReadPermissionIsReported()
    {
        if (geteuid() == 0)
            QSKIP("root reads every file");
        const QString path = Path(QStringLiteral("secret.txt"));
        WriteAll(path, "1 2");
        QFile::setPermissions(path, QFileDevice::WriteOwner);
        Store({{5, 5}});
        Open(path, true);
        QCOMPARE(m_prompts->Kinds(), (QStringList{"openPath", "warning"}));
        QVERIFY(m_prompts->asked[1].text.contains(kav::ui::kReasonNoReadPermission));
        QCOMPARE(Stored(), (Points{{5, 5}}));
    }

    void failedSavesAreReported_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("reason");
        // A folder nobody may write to; root may write anywhere but where the
        // system itself says no.
        if (geteuid() == 0)
            QTest::newRow("system folder") << QStringLiteral("/proc/kav-test.txt") << kav::ui::kReasonMissing;
        else
            QTest::newRow("read-only folder")
                << m_dir.filePath(QStringLiteral("locked/kav-test.txt")) << kav::ui::kReasonNoWritePermission;
        QTest::newRow("disk full") << QStringLiteral("/dev/full") << kav::ui::kReasonDiskFull;
        QTest::newRow("inside a file") << m_dir.filePath(QStringLiteral("file.txt/inside.txt"))
                                       << kav::SystemErrorReason(ENOTDIR, kav::FileAccess::Write);
        QTest::newRow("name too long") << m_dir.filePath(QString(300, u'n')) << kav::ui::kReasonNameTooLong;
        QTest::newRow("pipe without a reader")
            << m_dir.filePath(QStringLiteral("fifo")) << kav::SystemErrorReason(ENXIO, kav::FileAccess::Write);
        QTest::newRow("directory") << m_dir.path() << kav::ui::kReasonDirectory;
    }
    void failedSavesAreReported()
    {
        QFETCH(QString, path);
        QFETCH(QString, reason);
        QDir(m_dir.path()).mkdir(QStringLiteral("locked"));
        QFile::setPermissions(m_dir.filePath(QStringLiteral("locked")), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        WriteAll(Path(QStringLiteral("file.txt")), "1 2");
        const QByteArray fifo = QFile::encodeName(Path(QStringLiteral("fifo")));
        ::unlink(fifo.constData());
        QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
        Store({{1, 2}, {3, 4}});
        Save(path, {});
        QCOMPARE(m_prompts->Kinds(), (QStringList{"format", "savePath", "warning"}));
        QVERIFY2(m_prompts->asked[2].text.contains(QDir::toNativeSeparators(path)),
                 qPrintable(m_prompts->asked[2].text));
        QVERIFY2(m_prompts->asked[2].text.contains(reason), qPrintable(m_prompts->asked[2].text));
        QVERIFY(!QFile::exists(QStringLiteral("/proc/kav-test.txt")));
        QVERIFY(QFileInfo(QStringLiteral("/dev/full")).isFile() == false); // still the device
        QFile::setPermissions(m_dir.filePath(QStringLiteral("locked")),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QDir(m_dir.path()).rmdir(QStringLiteral("locked"));
    }

    // Each system call of a save fails in turn, with each error: the user
    // is told once, with the reason; the points stay; the old file stays
    // (or, once renamed over it, the new one is whole); nothing is left.
    void everyFailedCallOfASaveIsTold_data()
    {
        QTest::addColumn<int>("call");
        QTest::addColumn<int>("error");
        QTest::addColumn<bool>("renamed");
        const QByteArray path = QFile::encodeName(m_dir.filePath(QStringLiteral("count.txt")));
        const Points points{{1, 2}, {3, 4}};
        std::vector<std::string> names;
        {
            FailingCalls counting(-1, 0);
            if (!kav::SavePointsToFile(path, points, {}).Ok())
                qFatal("a save that fails nothing failed");
            names = FailingCalls::Names();
        }
        QFile::remove(QFile::decodeName(path));
        const auto rename = std::find(names.begin(), names.end(), "rename") - names.begin();
        for (int call = 0; call < static_cast<int>(names.size()); ++call) {
            for (const auto& [error, name] : {std::pair{ENOSPC, "ENOSPC"}, {EIO, "EIO"}, {EACCES, "EACCES"}})
                QTest::addRow("%d %s %s", call, names[call].c_str(), name) << call << error << (call > rename);
        }
    }
    void everyFailedCallOfASaveIsTold()
    {
        QFETCH(int, call);
        QFETCH(int, error);
        QFETCH(bool, renamed);
        const QString path = Path(QStringLiteral("keep.txt"));
        WriteAll(path, "old contents");
        Store({{1, 2}, {3, 4}});
        {
            FailingCalls failing(call, error);
            Save(path, {});
        }
        QCOMPARE(m_prompts->Kinds(), (QStringList{"format", "savePath", "warning"}));
        const QString told = m_prompts->asked[2].text;
        QVERIFY2(told.contains(kav::SystemErrorReason(error, kav::FileAccess::Write)), qPrintable(told));
        QCOMPARE(Stored(), (Points{{1, 2}, {3, 4}}));
        QCOMPARE(ReadAll(path), renamed ? QByteArray("1 2 3 4") : QByteArray("old contents"));
        QCOMPARE(DirectoryEntries(), QStringList{QStringLiteral("keep.txt")});
    }

    void aWriteThatFailsMidwayKeepsTheOldFile()
    {
        const QString path = Path(QStringLiteral("keep.txt"));
        WriteAll(path, "old contents");
        Points many;
        for (int i = 0; i < 200000; ++i)
            many.push_back({i, i});
        Store(many);

        // Files may grow to 64 KiB only: the write fails part way.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit small = saved;
        small.rlim_cur = 64 * 1024;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        Save(path, {});
        setrlimit(RLIMIT_FSIZE, &saved);

        QCOMPARE(m_prompts->Kinds(), (QStringList{"format", "savePath", "warning"}));
        QCOMPARE(ReadAll(path), QByteArray("old contents"));
        QCOMPARE(DirectoryEntries(), QStringList{QStringLiteral("keep.txt")}); // no temporary left
    }

    // Anuluj while the file is written leaves what was there byte for byte,
    // and no temporary file; a cancel is no failure to report.
    void cancellingASaveKeepsTheOldFile_data()
    {
        QTest::addColumn<bool>("existed");
        QTest::newRow("over a file") << true;
        QTest::newRow("a new file") << false;
    }
    void cancellingASaveKeepsTheOldFile()
    {
        QFETCH(bool, existed);
        const QString path = Path(QStringLiteral("kept.txt"));
        const QByteArray old("10 20 30\n40 \x01\xff");
        if (existed)
            WriteAll(path, old);
        // About 40 MB to write and sync: far more than the first update waits.
        Points many(2'000'000);
        for (std::size_t i = 0; i < many.size(); ++i)
            many[i] = {1'000'000'000 + static_cast<int>(i), -1'000'000'000};
        StoreMany(many);
        m_prompts->cancelProgressAfter = 0;
        Save(path, {});
        QVERIFY2(m_prompts->progressUpdates >= 1, "the save ended before it could be cancelled");
        QVERIFY(m_prompts->progressWork == kav::ProgressWork::Saving);
        QCOMPARE(m_prompts->progressText, kav::ui::kSavingText);
        QCOMPARE(m_prompts->progressTotal, qint64{2'000'000});
        QCOMPARE(m_prompts->Kinds(), (QStringList{"format", "savePath"}));
        if (existed)
            QCOMPARE(ReadAll(path), old);
        QCOMPARE(DirectoryEntries(), existed ? QStringList{QStringLiteral("kept.txt")} : QStringList{});
    }

    // While a save writes, every command is refused, so that the points it
    // writes stay as they were: the file gets the figure of the command.
    // The save goes to a pipe that is read only later, so that it surely
    // waits while the user acts.
    void nothingChangesThePointsWhileASaveRuns_data()
    {
        QTest::addColumn<QString>("action");
        QTest::newRow("click") << QStringLiteral("click");
        QTest::newRow("Space at the keyboard cursor") << QStringLiteral("key");
        QTest::newRow("undo") << QStringLiteral("undo");
        QTest::newRow("new") << QStringLiteral("new");
    }
    void nothingChangesThePointsWhileASaveRuns()
    {
        QFETCH(QString, action);
        Points points(30000);
        for (std::size_t i = 0; i < points.size(); ++i)
            points[i] = {static_cast<int>(i), static_cast<int>(i % 300)};
        StoreMany(points);
        const QByteArray fifo = QFile::encodeName(Path(QStringLiteral("reader")));
        ::unlink(fifo.constData()); // a pipe is no file to the cleanup
        QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
        const FileHandle reader(::open(fifo.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
        QVERIFY(reader.IsOpen());
        QByteArray got;
        const auto drain = [&] {
            char block[65536];
            for (ssize_t n; (n = ::read(reader.Get(), block, sizeof block)) > 0;)
                got.append(block, n);
        };
        m_prompts->duringProgress = [&](int update) {
            if (update > 1) {
                drain();
                return;
            }
            if (action == QLatin1String("click"))
                QTest::mouseClick(m_view, Qt::LeftButton, {}, QPoint(350, 250));
            else if (action == QLatin1String("key"))
                QTest::keyClick(m_view, Qt::Key_Space);
            else if (action == QLatin1String("undo"))
                m_view->OnUndoPoint();
            else
                m_view->OnPointsNew();
        };
        const SaveFormat format{',', '\n', SaveFormat::kClickOrder};
        Save(QFile::decodeName(fifo), format);
        drain();
        QVERIFY2(m_prompts->progressUpdates > 1, "the save did not wait for the reader");
        std::ostringstream expected;
        QVERIFY(kav::WritePoints(expected, points, format));
        QVERIFY(got.toStdString() == expected.str());
        QCOMPARE(Stored(), points);
        QCOMPARE(m_prompts->Kinds(), (QStringList{"format", "savePath"}));
    }

    void aStoreThatRefusesTheLoadStaysAsItWas_data()
    {
        QTest::addColumn<bool>("replace");
        QTest::newRow("replacing") << true;
        QTest::newRow("appending") << false;
    }
    void aStoreThatRefusesTheLoadStaysAsItWas()
    {
        QFETCH(bool, replace);
        auto limited = [](Point* points, std::size_t count) -> Point* {
            return count > 1024 ? nullptr : kav::ReallocatePoints(points, count);
        };
        MakeView(limited);
        Store({{1, 1}, {2, 2}});
        QByteArray text;
        for (int i = 0; i < 1200; ++i) // more than the store can grow to
            text += "3 4 ";
        const QString path = Path(QStringLiteral("big.txt"));
        WriteAll(path, text);
        Open(path, replace);
        QCOMPARE(m_prompts->Kinds(), (QStringList{"openPath", "question", "warning"}));
        QVERIFY(m_prompts->asked.last().text.contains(QDir::toNativeSeparators(path)));
        QCOMPARE(Stored(), (Points{{1, 1}, {2, 2}}));
    }

    // The memory limit counts every buffer alive at once: appending keeps
    // the loaded points beside the grown figure, replacing adopts them.
    void theMemoryLimitCountsTheLoadedPointsToo_data()
    {
        QTest::addColumn<bool>("replace");
        QTest::addColumn<bool>("fits");
        QTest::newRow("appending") << false << false;
        QTest::newRow("replacing") << true << true;
    }
    void theMemoryLimitCountsTheLoadedPointsToo()
    {
        QFETCH(bool, replace);
        QFETCH(bool, fits);
        // 3 MiB for points: the figure's 1 MiB and the file's 1 MiB fit,
        // the figure grown to 2 MiB with the file's beside it does not.
        qputenv("KAV_MEMORY_AVAILABLE_MB", "259");
        MakeView(&kav::ReallocateWithinMemory);
        for (int i = 0; i < 70000; ++i)
            QVERIFY(m_view->Apply(kav::PointChange::Append({i % 640, i / 640})));
        QByteArray text;
        for (int i = 0; i < 70000; ++i)
            text += "1 2\n";
        const QString path = Path(QStringLiteral("70000.txt"));
        WriteAll(path, text);
        Open(path, replace);
        qunsetenv("KAV_MEMORY_AVAILABLE_MB");
        QCOMPARE(m_prompts->Kinds().size(), fits ? 2 : 3);
        QCOMPARE(m_view->Store().ActivePoints().size(), std::size_t{70000});
        QCOMPARE(m_view->Store().ActivePoints().back(), fits ? (Point{1, 2}) : (Point{69999 % 640, 69999 / 640}));
    }

    // Devices that never end: the load runs until it is cancelled, with a
    // progress of unknown size, and the points stay as they were.
    void cancellingAnEndlessLoadKeepsThePoints_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("/dev/zero") << QStringLiteral("/dev/zero");
        QTest::newRow("/dev/urandom") << QStringLiteral("/dev/urandom");
    }
    void cancellingAnEndlessLoadKeepsThePoints()
    {
        QFETCH(QString, path);
        Store({{9, 9}});
        m_prompts->cancelProgressAfter = 2;
        Open(path, true);
        QVERIFY(m_prompts->progressUpdates >= 3);
        QCOMPARE(m_prompts->progressText, kav::ui::kLoadingText);
        QCOMPARE(m_prompts->progressTotal, qint64{-1});
        QVERIFY(m_prompts->progressBytes > 0);
        QCOMPARE(Stored(), (Points{{9, 9}}));
        QCOMPARE(m_prompts->Kinds(), (QStringList{"openPath", "question"}));
    }

    // A load lets events through, yet no command starts inside it: what the
    // user does meanwhile is refused, and a drop waits for the load to end.
    void noCommandStartsWhileALoadRuns()
    {
        const QByteArray fifo = QFile::encodeName(Path(QStringLiteral("slow")));
        QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
        const QString dropped = Path(QStringLiteral("dropped.txt"));
        WriteAll(dropped, "7 8");
        Store({{1, 1}});
        // A drop whose Open is still queued when the load starts.
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(dropped)});
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(m_view, &enter);
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(m_view, &drop);
        m_prompts->duringProgress = [&](int update) {
            if (update == 1) {
                QTest::qWait(50); // the queued drop comes now
                QTest::mouseClick(m_view, Qt::LeftButton, {}, QPoint(50, 50));
                m_view->OnPointsNew();
                m_view->OnUndoPoint();
                m_files->OnPointsOpen();
                m_files->OnPointsSave();
                m_view->OnShowCoords();
                QDragEnterEvent again(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
                QCoreApplication::sendEvent(m_view, &again);
                QVERIFY(!again.isAccepted()); // and no new drag is taken
            }
            if (update == 3) { // the writer comes at last
                QFile writer(QFile::decodeName(fifo));
                QVERIFY(writer.open(QIODevice::WriteOnly));
                writer.write("5 6");
            }
        };
        m_prompts->openPaths = {QFile::decodeName(fifo)};
        m_prompts->yesNo = {false, true}; // the pipe appends, the drop replaces
        Points firstEnd;
        QStringList askedByThen;
        connect(m_view, &CKavView::CommandsEnded, this, [&] {
            if (askedByThen.isEmpty()) {
                firstEnd = Stored();
                askedByThen = m_prompts->Kinds();
            }
        });
        m_files->OnPointsOpen();
        QTRY_VERIFY_WITH_TIMEOUT(!askedByThen.isEmpty(), 20000);
        QCOMPARE(firstEnd, (Points{{1, 1}, {5, 6}}));
        QCOMPARE(askedByThen, (QStringList{"openPath", "question"}));
        QTRY_COMPARE(Stored(), (Points{{7, 8}}));
        QCOMPARE(m_prompts->Kinds(), (QStringList{"openPath", "question", "question"}));
    }

    // With no progress dialog to pump events, closing the window still ends
    // a load that would never end by itself.
    void closingTheWindowEndsALoadWithoutProgress()
    {
        const QByteArray fifo = QFile::encodeName(Path(QStringLiteral("silent")));
        QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
        const FileHandle writer(::open(fifo.constData(), O_RDWR)); // there, but silent
        m_prompts->withProgress = false;
        Store({{3, 3}});
        m_view->show();
        QTimer::singleShot(200, m_view, &QWidget::close);
        Open(QFile::decodeName(fifo), true);
        QVERIFY(!m_view->isVisible());
        QCOMPARE(Stored(), (Points{{3, 3}}));
    }

    // One local file dropped on the view runs the Open command on it; any
    // other drag is refused and asks nothing.
    void aDroppedFileIsOpened_data()
    {
        const QUrl file = QUrl::fromLocalFile(Path(QStringLiteral("dropped.txt")));
        QTest::addColumn<QList<QUrl>>("urls");
        QTest::addColumn<bool>("opened");
        QTest::newRow("one file") << QList<QUrl>{file} << true;
        QTest::newRow("two files") << QList<QUrl>{file, file} << false;
        QTest::newRow("web address") << QList<QUrl>{QUrl(QStringLiteral("https://example.org/punkty.txt"))} << false;
        QTest::newRow("no file") << QList<QUrl>{} << false;
        // As a file manager sends a Windows-1250 name: its bytes, escaped.
        const QByteArray bytes = QFile::encodeName(m_dir.path()) + "/\xb3\xf3" "d\x9f.txt";
        QTest::newRow("a name that is not UTF-8")
            << QList<QUrl>{QUrl::fromEncoded("file://" + bytes.toPercentEncoding("/"))} << true;
    }
    void aDroppedFileIsOpened()
    {
        QFETCH(QList<QUrl>, urls);
        QFETCH(bool, opened);
        WriteAll(Path(QStringLiteral("dropped.txt")), "7 8 9 10");
        const QByteArray raw = QFile::encodeName(m_dir.path()) + "/\xb3\xf3" "d\x9f.txt";
        const FileHandle rawFile(::open(raw.constData(), O_CREAT | O_WRONLY | O_TRUNC, 0644));
        QVERIFY(rawFile.IsOpen() && ::write(rawFile.Get(), "7 8 9 10", 8) == 8);
        Store({{1, 2}});
        m_prompts->yesNo = {true};
        QMimeData data;
        data.setUrls(urls);
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(m_view, &enter);
        QCOMPARE(enter.isAccepted(), opened);
        if (!opened) {
            QVERIFY(m_prompts->asked.isEmpty());
            return;
        }
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(m_view, &drop);
        QTRY_COMPARE(Stored(), (Points{{7, 8}, {9, 10}}));
        QCOMPARE(m_prompts->Kinds(), QStringList{QStringLiteral("question")}); // the same question as Open
    }

    void listingIsRelativeToTheCentre()
    {
        Store({{200, 150}, {0, 0}, {399, 299}});
        m_view->OnShowCoords();
        QCOMPARE(m_prompts->asked.last().kind, QStringLiteral("listing"));
        QCOMPARE(m_prompts->asked.last().text, QStringLiteral("0,0,-200,-150,199,149"));
        m_view->OnShowCoords(); // listing changes nothing
        QCOMPARE(m_prompts->asked.last().text, QStringLiteral("0,0,-200,-150,199,149"));
        m_view->OnUndoPoint();
        m_view->OnShowCoords();
        QCOMPARE(m_prompts->asked.last().text, QStringLiteral("0,0,-200,-150"));

        m_view->resize(801, 601);
        m_view->Apply(kav::PointChange::Clear());
        Store({{0, 0}, {2000, -7}});
        m_view->OnShowCoords();
        QCOMPARE(m_prompts->asked.last().text, QStringLiteral("-400,-300,1600,-307"));

        m_view->Apply(kav::PointChange::Clear());
        m_view->OnShowCoords();
        QCOMPARE(m_prompts->asked.last().text, QString());
    }

    void listingShowsBufferBInClickOrder()
    {
        m_view->resize(300, 200);
        for (int i = 0; i < 257; ++i)
            QVERIFY(m_view->Apply(kav::PointChange::Append({i, 0})));
        QVERIFY(!m_view->Store().State().useA);
        m_view->OnShowCoords();
        const QStringList numbers = m_prompts->asked.last().text.split(',');
        QCOMPARE(numbers.size(), 514);
        QCOMPARE(numbers.mid(0, 4), (QStringList{"-150", "-100", "-149", "-100"}));
        QCOMPARE(numbers.mid(512), (QStringList{"106", "-100"}));
    }
};

QTEST_MAIN(TestViewExchange)
#include "tst_view_exchange.moc"
