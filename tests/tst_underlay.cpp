// The image under the figure: which files it takes, and how it shows at
// every scale.

#include "res/strings.h"
#include "view/underlay.h"

#include <QBuffer>
#include <QFile>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

namespace {

quint32 Crc32(const char* data, int size)
{
    quint32 crc = 0xFFFFFFFF;
    for (int i = 0; i < size; ++i) {
        crc ^= static_cast<unsigned char>(data[i]);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
    }
    return ~crc;
}

// A one-colour image of `size` in `format`.
QByteArray Encoded(QSize size, const char* format)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

} // namespace

class TestUnderlay : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void hostileImagesAreRefused_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("image"); // recognised by its content
        QTest::addColumn<QString>("reason");
        const QByteArray png = Encoded(QSize(40, 30), "PNG");
        const QByteArray jpeg = Encoded(QSize(64, 64), "JPG");
        // A JPEG whose first segment claims more bytes than the file holds.
        QByteArray wrongLength = jpeg.left(200);
        wrongLength[4] = char(0x7F);
        QByteArray huge = png.left(33);
        // IHDR's width and height: 100 000 each, with its checksum.
        for (int i = 0; i < 2; ++i) {
            const quint32 side = qToBigEndian<quint32>(100000);
            memcpy(huge.data() + 16 + 4 * i, &side, 4);
        }
        const quint32 crc = qToBigEndian(Crc32(huge.constData() + 12, 17));
        memcpy(huge.data() + 29, &crc, 4);
        huge += png.mid(33, 64);
        const QString tooLarge = kav::ui::kUnderlayTooLarge.arg(100000).arg(100000).arg(16384);
        QTest::addRow("truncated png") << png.left(png.size() / 2) << true << kav::ui::kUnderlayBroken;
        QTest::addRow("jpeg with a wrong length") << wrongLength << true << kav::ui::kUnderlayBroken;
        QTest::addRow("100000 x 100000 header") << huge << true << tooLarge;
        QTest::addRow("text named .png") << QByteArray("10,20\n30,40\n") << false << kav::ui::kUnderlayUnreadable;
        QTest::addRow("empty") << QByteArray() << false << kav::ui::kUnderlayUnreadable;
    }
    void hostileImagesAreRefused()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, image);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("bad.png")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
        file.close();
        // Only what looks like an image is taken for one; the rest opens as points.
        if (!image)
            QVERIFY(!kav::Underlay::IsImage(file.fileName()));
        const kav::Underlay::Loaded loaded = kav::Underlay::Load(file.fileName());
        QVERIFY(!loaded.underlay);
        QCOMPARE(loaded.reason, reason);
    }

    void anImageBecomesAnUnderlayWithEveryScale()
    {
        QTemporaryDir dir;
        QImage image(300, 5, QImage::Format_RGB32);
        image.fill(Qt::white);
        image.setPixel(0, 0, qRgb(0, 0, 0));
        const QString path = dir.filePath(QStringLiteral("plan.bin")); // the content decides, not the name
        QVERIFY(image.save(path, "PNG"));
        QVERIFY(kav::Underlay::IsImage(path));
        const kav::Underlay::Loaded loaded = kav::Underlay::Load(path);
        QVERIFY(loaded.underlay);
        QCOMPARE(loaded.underlay->Size(), QSize(300, 5));
        // Halved down to a pixel: 300, 150, 75, 38, 19, 10, 5, 3, 2, 1.
        QCOMPARE(loaded.underlay->Levels(), 10);
        QCOMPARE(loaded.underlay->Level(9).size(), QSize(1, 1));
        // The corner's black pixel is a quarter of the next level's corner.
        QCOMPARE(qRed(loaded.underlay->Level(1).pixel(0, 0)), 191);
    }

    // Red on the left half of a 64 x 64 image, blue on the right, drawn
    // into a white view as each mapping shows it.
    void everyScaleShowsItsCopy_data()
    {
        QTest::addColumn<int>("zoom");
        QTest::addColumn<QPoint>("origin");
        QTest::addColumn<QPoint>("at");
        QTest::addColumn<QRgb>("colour");
        const QRgb red = qRgb(255, 0, 0), blue = qRgb(0, 0, 255), white = qRgb(255, 255, 255);
        QTest::addRow("1:1 left") << 0 << QPoint() << QPoint(10, 10) << red;
        QTest::addRow("1:1 right") << 0 << QPoint() << QPoint(40, 10) << blue;
        QTest::addRow("1:1 beyond") << 0 << QPoint() << QPoint(70, 10) << white;
        QTest::addRow("panned") << 0 << QPoint(32, 60) << QPoint(0, 3) << blue;
        QTest::addRow("above it") << 0 << QPoint(0, -10) << QPoint(5, 5) << white;
        QTest::addRow("1/2 right") << -1 << QPoint() << QPoint(20, 10) << blue;
        QTest::addRow("1/2 beyond") << -1 << QPoint() << QPoint(33, 10) << white;
        QTest::addRow("4x left") << 2 << QPoint() << QPoint(127, 10) << red;
        QTest::addRow("4x right") << 2 << QPoint() << QPoint(128, 10) << blue;
        QTest::addRow("1/64, one pixel of both") << -6 << QPoint() << QPoint(0, 0) << qRgb(128, 0, 128);
    }
    void everyScaleShowsItsCopy()
    {
        QFETCH(int, zoom);
        QFETCH(QPoint, origin);
        QFETCH(QPoint, at);
        QFETCH(QRgb, colour);
        QImage image(64, 64, QImage::Format_RGB32);
        image.fill(Qt::blue);
        QPainter(&image).fillRect(0, 0, 32, 64, Qt::red);
        const auto underlay = kav::Underlay::FromImage(image);
        QVERIFY(underlay);
        QImage view(300, 200, QImage::Format_RGB32);
        view.fill(Qt::white);
        QPainter painter(&view);
        underlay->Draw(painter, {zoom, origin.x(), origin.y()}, view.rect());
        painter.end();
        QCOMPARE(view.pixel(at), colour);
    }
};

QTEST_MAIN(TestUnderlay)
#include "tst_underlay.moc"
