#include "exchange/point_file.h"

#include <QBuffer>
#include <QTest>

using kav::Point;

namespace {

// A device that takes `capacity` bytes and then fails every write.
class FailDevice final : public QBuffer {
public:
    explicit FailDevice(qint64 capacity)
        : m_capacity(capacity)
    {
    }

protected:
    qint64 writeData(const char* data, qint64 size) override
    {
        if (pos() + size > m_capacity)
            return -1;
        return QBuffer::writeData(data, size);
    }

private:
    qint64 m_capacity;
};

} // namespace

class TestPointFile : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void theWriterReportsADeviceThatFails()
    {
        const std::vector<Point> many(100000, Point{1234, 5678});
        FailDevice device(1000);
        QVERIFY(device.open(QIODevice::WriteOnly));
        QVERIFY(!kav::WritePointsTo(device, many, {}));
        FailDevice roomy(10'000'000);
        QVERIFY(roomy.open(QIODevice::WriteOnly));
        QVERIFY(kav::WritePointsTo(roomy, many, {}));
        QCOMPARE(roomy.data().size(), qsizetype{100000 * 10 - 1});
    }
};

QTEST_MAIN(TestPointFile)
#include "tst_point_file.moc"
