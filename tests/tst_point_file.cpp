#include "exchange/point_file.h"
#include "exchange/point_loader.h"
#include "exchange/point_saver.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <random>
#include <sstream>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>

using kav::FileHandle;
using kav::Point;
using kav::PointLoader;
using kav::PointSaver;

namespace {

// How a load ended, as its result tells.
enum class LoadStatus { Loaded, ReadFailed, TooMany, Cancelled };

LoadStatus StatusOf(const kav::FileResult& result)
{
    return result.Ok()          ? LoadStatus::Loaded
        : result.Cancelled()    ? LoadStatus::Cancelled
        : result.NoRoom()       ? LoadStatus::TooMany
                                : LoadStatus::ReadFailed;
}

// Whether the job's end has come within `ms`, the events handled meanwhile.
bool Ended(const kav::FileWorker& worker, int ms)
{
    return QTest::qWaitFor([&] { return !worker.Running(); }, ms);
}

} // namespace
using kav::SaveFormat;

namespace {

FileHandle Opened(const QByteArray& path)
{
    FileHandle file;
    const kav::FileResult opened = kav::OpenForReading(path, file);
    if (!opened.Ok())
        qFatal("cannot open %s: %d", path.constData(), opened.error);
    return file;
}

Point* AtMost1024(Point* points, std::size_t count)
{
    return count > 1024 ? nullptr : kav::ReallocatePoints(points, count);
}

} // namespace

class TestPointFile : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    QByteArray Path(const char* name) const { return QFile::encodeName(m_dir.filePath(QLatin1String(name))); }
    QByteArray MakeFile(const char* name, const QByteArray& contents) const
    {
        QFile file(m_dir.filePath(QLatin1String(name)));
        if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size())
            qFatal("cannot write %s", name);
        return Path(name);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QCOMPARE(::mkfifo(Path("fifo").constData(), 0600), 0);
    }

    void theWriterReportsAFileThatCannotGrow()
    {
        const std::vector<Point> many(100000, Point{1234, 5678});
        QTemporaryFile limited;
        QVERIFY(limited.open());
        // Files may grow to 1000 bytes only: the writes past that fail.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        const rlimit small{1000, saved.rlim_max};
        setrlimit(RLIMIT_FSIZE, &small);
        const kav::FileResult written = kav::WritePointsTo(limited.handle(), many, {});
        setrlimit(RLIMIT_FSIZE, &saved);
        QCOMPARE(written.error, EFBIG);
        QCOMPARE(written.step, kav::FileStep::Write);
        QTemporaryFile roomy;
        QVERIFY(roomy.open());
        QVERIFY(kav::WritePointsTo(roomy.handle(), many, {}).Ok());
        QCOMPARE(roomy.size(), qint64{100000 * 10 - 1});
    }

    // Nothing here may wait: a pipe without a writer opens at once.
    void openingForReadingNeverWaits_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<int>("error");
        QTest::addColumn<qint64>("size");
        QTest::newRow("file") << MakeFile("four.txt", "1 2 3 4") << 0 << qint64{7};
        QTest::newRow("missing") << Path("missing.txt") << ENOENT << qint64{-1};
        QTest::newRow("folder") << QFile::encodeName(m_dir.path()) << EISDIR << qint64{-1};
        QTest::newRow("inside a file") << MakeFile("plain.txt", "") + "/x" << ENOTDIR << qint64{-1};
        QTest::newRow("pipe without a writer") << Path("fifo") << 0 << qint64{-1};
        QTest::newRow("endless device") << QByteArray("/dev/zero") << 0 << qint64{-1};
    }
    void openingForReadingNeverWaits()
    {
        QFETCH(QByteArray, path);
        QFETCH(int, error);
        QFETCH(qint64, size);
        FileHandle file;
        QCOMPARE(kav::OpenForReading(path, file).error, error);
        QCOMPARE(file.IsOpen(), error == 0);
        if (file.IsOpen())
            QCOMPARE(file.KnownSize(), size);
    }

    void aLoadEndsWithItsStatus_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("error");
        QTest::addColumn<qint64>("points");
        QTest::newRow("loaded") << MakeFile("five.txt", "1 2 3 4 5") << int(LoadStatus::Loaded) << 0 << qint64{3};
        QTest::newRow("more than the memory") << MakeFile("many.txt", QByteArray(5000, ' ').replace(' ', "7 "))
                                              << int(LoadStatus::TooMany) << 0 << qint64{0}; // one batch, refused whole
        // The kernel refuses to read a process's memory at address 0.
        QTest::newRow("read error") << QByteArray("/proc/self/mem") << int(LoadStatus::ReadFailed) << EIO << qint64{0};
    }
    void aLoadEndsWithItsStatus()
    {
        QFETCH(QByteArray, path);
        QFETCH(int, status);
        QFETCH(int, error);
        QFETCH(qint64, points);
        PointLoader loader(Opened(path), &AtMost1024);
        QVERIFY(Ended(loader, 5000));
        QCOMPARE(int(StatusOf(loader.Result())), status);
        QCOMPARE((StatusOf(loader.Result()) == LoadStatus::ReadFailed ? loader.Result().error : 0), error);
        QCOMPARE(loader.DonePoints(), points);
        if (StatusOf(loader.Result()) == LoadStatus::Loaded)
            QCOMPARE(std::vector<Point>(loader.Points().ActivePoints().begin(), loader.Points().ActivePoints().end()),
                     (std::vector<Point>{{1, 2}, {3, 4}, {5, 0}}));
    }

    // A regular file of a few MB is scanned on every core: the same pairs as
    // the rule, the same progress at the end, and the same refusal.
    void aLargeFileLoadsOnEveryCore_data()
    {
        QTest::addColumn<bool>("limited");
        QTest::addColumn<int>("status");
        QTest::newRow("loaded") << false << int(LoadStatus::Loaded);
        QTest::newRow("more than the memory") << true << int(LoadStatus::TooMany);
    }
    void aLargeFileLoadsOnEveryCore()
    {
        QFETCH(bool, limited);
        QFETCH(int, status);
        QByteArray text;
        std::mt19937 random(9);
        static const char* const kSeparators[] = {" ", ",", "\r\n", "-", ".", "x=", "\xff"};
        while (text.size() < 3 * (1 << 20))
            text += QByteArray::number(random() % 100000) + kSeparators[random() % 7];
        text += "12345"; // an odd count: the last pairs with 0
        const QByteArray path = MakeFile("large.txt", text);
        std::vector<Point> expected;
        kav::PlainScanner rule;
        rule.Scan({text.constData(), static_cast<std::size_t>(text.size())}, expected);
        rule.Finish(expected);

        PointLoader loader(Opened(path), limited ? &AtMost1024 : &kav::ReallocatePoints);
        QVERIFY(Ended(loader, 20000));
        QCOMPARE(int(StatusOf(loader.Result())), status);
        if (StatusOf(loader.Result()) != LoadStatus::Loaded)
            return;
        const auto points = loader.Points().ActivePoints();
        QVERIFY(std::vector<Point>(points.begin(), points.end()) == expected);
        QCOMPARE(loader.DonePoints(), qint64(expected.size()));
        QCOMPARE(loader.DoneBytes(), qint64(text.size()));
    }

    // A large file that another process cuts short while it loads is a read
    // error, whether the load was reading the lost pages or had read them:
    // never a crash, and never the points of a file that is no longer so.
    void aFileCutShortWhileItLoadsIsAReadError()
    {
        const QByteArray path = MakeFile("cut.txt", "1 2 3");
        const FileHandle writer(::open(path.constData(), O_RDWR));
        QCOMPARE(::ftruncate(writer.Get(), off_t{512} << 20), 0); // a hole: read as zero bytes, separators
        PointLoader loader(Opened(path), &kav::ReallocatePoints);
        while (loader.DoneBytes() == 0 && loader.Running())
            std::this_thread::yield();
        QCOMPARE(::ftruncate(writer.Get(), 4096), 0);
        QVERIFY(Ended(loader, 20000));
        QCOMPARE(StatusOf(loader.Result()), LoadStatus::ReadFailed);
        QCOMPARE((StatusOf(loader.Result()) == LoadStatus::ReadFailed ? loader.Result().error : 0), EIO);
    }

    // A device that never ends and a pipe that stays silent both stop when
    // cancelled, and quickly.
    void anEndlessLoadStopsWhenCancelled_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::newRow("/dev/zero") << QByteArray("/dev/zero");
        QTest::newRow("silent pipe") << Path("fifo");
    }
    void anEndlessLoadStopsWhenCancelled()
    {
        QFETCH(QByteArray, path);
        // A writer that never writes keeps the pipe open.
        const FileHandle writer(path.endsWith("fifo") ? ::open(path.constData(), O_RDWR) : -1);
        PointLoader loader(Opened(path), &kav::ReallocatePoints);
        QVERIFY(!Ended(loader, 200));
        loader.Cancel();
        QVERIFY(Ended(loader, 1000));
        QCOMPARE(StatusOf(loader.Result()), LoadStatus::Cancelled);
    }

    // A save replaces only what the user may write, and clears away what
    // an earlier save of ours, killed part way, left beside its file.
    void aSaveLeavesAloneWhatIsNotItsToChange_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("error");
        QTest::newRow("writable") << 0644 << 0;
        QTest::newRow("read-only") << 0444 << EACCES; // though the folder may be written
    }
    void aSaveLeavesAloneWhatIsNotItsToChange()
    {
        QFETCH(int, mode);
        QFETCH(int, error);
        QTemporaryDir dir;
        const auto in = [&](const char* name) { return QFile::encodeName(dir.filePath(QLatin1String(name))); };
        const QByteArray target = in("figure.txt");
        // Writers that no longer run: one from before the last boot, one
        // with a process id that was never started at that time.
        const QByteArray ownLive = ".figure.txt.kav-" + kav::WriterTag() + "-abcdef";
        const QByteArray bootBefore = ".figure.txt.kav-00000000.1.1-abcdef";
        const QByteArray dead = ".other.txt.kav-" + kav::WriterTag().left(9) + "1.999999999-ABC123";
        const QList<QByteArray> kept{ownLive, ".figure.txt.kav-P4a98Q", "figure.txt.kav-00000000.1.1-abcdef"};
        for (const QByteArray& name : kept + QList<QByteArray>{bootBefore, dead}) {
            QFile file(QFile::decodeName(in(name.constData())));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        QFile old(QFile::decodeName(target));
        QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old") == 3);
        old.close();
        QCOMPARE(::chmod(target.constData(), mode_t(mode)), 0);

        const kav::FileResult saved = kav::SavePointsToFile(target, std::vector<Point>{{1, 2}}, {});
        QCOMPARE(saved.error, error);
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), error == 0 ? QByteArray("1 2") : QByteArray("old"));
        struct stat info { };
        QCOMPARE(::stat(target.constData(), &info), 0);
        QCOMPARE(int(info.st_mode & 0777), mode);
        QStringList left = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
        left.removeOne(QStringLiteral("figure.txt"));
        QStringList expected;
        for (const QByteArray& name : kept)
            expected.append(QFile::decodeName(name));
        if (error != 0) // refused before it came to the folder
            expected << QFile::decodeName(bootBefore) << QFile::decodeName(dead);
        left.sort();
        expected.sort();
        QCOMPARE(left, expected);
    }

    // The writer goes in blocks of points, so that the progress can count
    // them: joined, the blocks give the text of one pass, in either order.
    void aSaveInBlocksWritesTheWholeText_data()
    {
        QTest::addColumn<int>("order");
        QTest::addColumn<int>("count");
        QTest::newRow("click order, blocks and a part") << SaveFormat::kClickOrder << 2'500'000;
        QTest::newRow("reverse, blocks and a part") << SaveFormat::kReverseOrder << 2'500'000;
        QTest::newRow("reverse, within a block") << SaveFormat::kReverseOrder << 3;
    }
    void aSaveInBlocksWritesTheWholeText()
    {
        QFETCH(int, order);
        QFETCH(int, count);
        std::vector<Point> points(static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i)
            points[static_cast<std::size_t>(i)] = {i, -i};
        const SaveFormat format{',', ';', order};
        std::ostringstream expected;
        QVERIFY(kav::WritePoints(expected, points, format));

        std::atomic<std::int64_t> bytes = 0;
        std::atomic<std::int64_t> written = 0;
        const QByteArray target = Path("blocks.txt");
        QVERIFY(kav::SavePointsToFile(target, points, format, {nullptr, &bytes, &written}).Ok());
        QFile saved(QFile::decodeName(target));
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QVERIFY(saved.readAll().toStdString() == expected.str());
        QCOMPARE(bytes.load(), static_cast<std::int64_t>(expected.str().size()));
        QCOMPARE(written.load(), std::int64_t{count});
    }

    // A cancel that comes before the rename keeps the old file as it was
    // and takes the temporary one away: at the first block, or after the
    // last one.
    void aCancelledSaveKeepsTheOldFile_data()
    {
        QTest::addColumn<int>("count");
        QTest::newRow("while writing") << 100000;
        QTest::newRow("once written") << 0;
    }
    void aCancelledSaveKeepsTheOldFile()
    {
        QFETCH(int, count);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("old.txt"));
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly) && old.write("1 2 3") == 5);
        old.close();
        const std::atomic<bool> cancelled = true;
        const std::vector<Point> points(static_cast<std::size_t>(count), Point{7, 8});
        const kav::FileResult saved = kav::SavePointsToFile(QFile::encodeName(path), points, {}, {&cancelled});
        QCOMPARE(saved.error, ECANCELED);
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), QByteArray("1 2 3"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("old.txt")});
    }

    // A pipe whose reader has stopped holds the save until the stall limit;
    // a cancel ends it long before.
    void aCancelEndsASaveThatWaitsForRoom()
    {
        const FileHandle reader(::open(Path("fifo").constData(), O_RDONLY | O_NONBLOCK));
        QVERIFY(reader.IsOpen());
        const std::vector<Point> points(100000, Point{1234, 5678}); // far more than the pipe holds
        PointSaver saver(Path("fifo"), points, kav::SaveFormat{});
        QVERIFY(!Ended(saver, 300));
        QVERIFY(saver.DoneBytes() > 0);
        saver.Cancel();
        QVERIFY2(Ended(saver, 5000), "the cancel waits for the stall limit");
        QCOMPARE(saver.Result().error, ECANCELED);
    }
};

QTEST_MAIN(TestPointFile)
#include "tst_point_file.moc"
