#include "exchange/point_file.h"
#include "exchange/point_loader.h"

#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <random>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>

using kav::FileHandle;
using kav::LoadStatus;
using kav::Point;
using kav::PointLoader;

namespace {

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
        const int error = kav::WritePointsTo(limited.handle(), many, {});
        setrlimit(RLIMIT_FSIZE, &saved);
        QCOMPARE(error, EFBIG);
        QTemporaryFile roomy;
        QVERIFY(roomy.open());
        QCOMPARE(kav::WritePointsTo(roomy.handle(), many, {}), 0);
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
        int got = 0;
        const FileHandle file = kav::OpenForReading(path, got);
        QCOMPARE(got, error);
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
        int openError = 0;
        PointLoader loader(kav::OpenForReading(path, openError), &AtMost1024);
        QCOMPARE(openError, 0);
        QVERIFY(loader.Wait(5000));
        QCOMPARE(int(loader.Status()), status);
        QCOMPARE(loader.Error(), error);
        QCOMPARE(loader.PointsFound(), points);
        if (loader.Status() == LoadStatus::Loaded)
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

        int openError = 0;
        PointLoader loader(kav::OpenForReading(path, openError), limited ? &AtMost1024 : &kav::ReallocatePoints);
        QVERIFY(loader.Wait(20000));
        QCOMPARE(int(loader.Status()), status);
        if (loader.Status() != LoadStatus::Loaded)
            return;
        const auto points = loader.Points().ActivePoints();
        QVERIFY(std::vector<Point>(points.begin(), points.end()) == expected);
        QCOMPARE(loader.PointsFound(), qint64(expected.size()));
        QCOMPARE(loader.BytesRead(), qint64(text.size()));
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
        int error = 0;
        // A writer that never writes keeps the pipe open.
        const FileHandle writer(path.endsWith("fifo") ? ::open(path.constData(), O_RDWR) : -1);
        PointLoader loader(kav::OpenForReading(path, error), &kav::ReallocatePoints);
        QVERIFY(!loader.Wait(200));
        loader.Cancel();
        QVERIFY(loader.Wait(1000));
        QCOMPARE(loader.Status(), LoadStatus::Cancelled);
    }
};

QTEST_MAIN(TestPointFile)
#include "tst_point_file.moc"
