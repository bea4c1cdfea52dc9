// The exports as the programs people use read them, and the underlay's
// refusal of files that are no image it can show.

#include "exchange/figure_export.h"
#include "exchange/point_file.h"
#include "res/strings.h"
#include "view/raster.h"
#include "view/underlay.h"

#include <QBuffer>
#include <QFile>
#include <QtEndian>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <vector>

using kav::ExportFormat;
using kav::Point;

Q_DECLARE_METATYPE(kav::ExportFormat)
Q_DECLARE_METATYPE(std::vector<kav::Point>)

namespace {

QByteArray Run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        qWarning() << program << process.readAllStandardError();
    return process.exitCode() == 0 ? process.readAllStandardOutput() : QByteArray("failed");
}

bool Export(const QString& path, ExportFormat format, std::span<const Point> points)
{
    return kav::SaveTextToFile(QFile::encodeName(path), [&](std::ostream& out) {
               return format == ExportFormat::Svg ? kav::WriteSvg(out, points) : kav::WriteDxf(out, points);
           }).Ok();
}

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

} // namespace

class TestFigureExport : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void theNamePicksTheFormat_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<ExportFormat>("chosen");
        QTest::addColumn<QString>("written");
        QTest::addColumn<ExportFormat>("format");
        QTest::addRow("svg by name") << "a.svg" << ExportFormat::Png << "a.svg" << ExportFormat::Svg;
        QTest::addRow("upper case") << "A.DXF" << ExportFormat::Svg << "A.DXF" << ExportFormat::Dxf;
        QTest::addRow("png by name") << "d/b.png" << ExportFormat::Dxf << "d/b.png" << ExportFormat::Png;
        QTest::addRow("no extension") << "plan" << ExportFormat::Dxf << "plan.dxf" << ExportFormat::Dxf;
        QTest::addRow("another extension") << "plan.txt" << ExportFormat::Svg << "plan.txt.svg" << ExportFormat::Svg;
        QTest::addRow("only the extension") << ".png" << ExportFormat::Svg << ".png.svg" << ExportFormat::Svg;
    }
    void theNamePicksTheFormat()
    {
        QFETCH(QString, path);
        QFETCH(ExportFormat, chosen);
        QFETCH(QString, written);
        QFETCH(ExportFormat, format);
        QCOMPARE(kav::ResolveExport(path, chosen), (kav::ExportTarget{written, format}));
    }

    // rsvg renders the polyline on the very pixels that the editor inks at
    // 1:1; the end circle is left out of the comparison.
    void theSvgRendersAsTheEditorDraws()
    {
        const std::vector<Point> points{{10, 10}, {60, 10}, {60, 40}, {20, 40}, {20, 20}, {45, 30}, {50, 25}};
        QTemporaryDir dir;
        const QString svg = dir.filePath(QStringLiteral("f.svg"));
        QVERIFY(Export(svg, ExportFormat::Svg, points));
        const QString png = dir.filePath(QStringLiteral("f.png"));
        QCOMPARE(Run(QStringLiteral("rsvg-convert"), {QStringLiteral("-o"), png, svg}), QByteArray());
        const QImage rendered = QImage(png).convertToFormat(QImage::Format_ARGB32);
        // The viewBox starts 5 units above and left of the figure.
        QCOMPARE(rendered.size(), QSize(50 + 1 + 10, 30 + 1 + 10));
        std::vector<std::uint32_t> drawn(80 * 60, 0xFFFFFFFF);
        kav::DrawPolyline({drawn.data(), 80, 60, 80}, points, 0xFF000000);
        int compared = 0;
        for (int y = 0; y < rendered.height(); ++y) {
            for (int x = 0; x < rendered.width(); ++x) {
                const int fx = x + 5, fy = y + 5;
                if (std::abs(fx - 50) <= 5 && std::abs(fy - 25) <= 5)
                    continue;
                const QRgb pixel = rendered.pixel(x, y);
                const bool dark = qAlpha(pixel) > 128 && qGray(pixel) < 128;
                QVERIFY2(dark == (drawn[std::size_t(fy * 80 + fx)] == 0xFF000000),
                         qPrintable(QStringLiteral("(%1, %2)").arg(fx).arg(fy)));
                ++compared;
            }
        }
        QVERIFY(compared > 2000);
    }

    void ezdxfReadsTheVertices_data()
    {
        QTest::addColumn<std::vector<Point>>("points");
        QTest::addColumn<bool>("closed");
        QTest::addRow("open") << std::vector<Point>{{0, 0}, {100, -20}, {-2147483648, 2147483647}} << false;
        QTest::addRow("closed") << std::vector<Point>{{5, 5}, {50, 5}, {50, 60}, {5, 5}} << true;
        QTest::addRow("one point") << std::vector<Point>{{7, 8}} << false;
    }
    void ezdxfReadsTheVertices()
    {
        QFETCH(std::vector<Point>, points);
        QFETCH(bool, closed);
        QTemporaryDir dir;
        const QString dxf = dir.filePath(QStringLiteral("f.dxf"));
        QVERIFY(Export(dxf, ExportFormat::Dxf, points));
        QByteArray read = Run(QStringLiteral("/usr/bin/python3"),
                                    {QStringLiteral("-c"), QStringLiteral("import ezdxf, sys\n"
                                                                          "doc = ezdxf.readfile(sys.argv[1])\n"
                                                                          "[p] = doc.modelspace().query('LWPOLYLINE')\n"
                                                                          "print(p.dxf.layer, int(p.closed))\n"
                                                                          "for x, y in p.vertices(): print(x, y)\n"),
                                     dxf});
        QByteArray expected = QByteArray("0 ") + (closed ? "1" : "0") + '\n';
        for (const Point p : points)
            expected += QByteArray::number(double(p.x), 'f', 1) + ' ' + QByteArray::number(-double(p.y), 'f', 1) + '\n';
        QCOMPARE(read.replace("-0.0", "0.0"), expected.replace("-0.0", "0.0"));
    }

    void hostileImagesAreRefused_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("image"); // recognised by its content
        QTest::addColumn<QString>("reason");
        QByteArray png;
        {
            QImage small(40, 30, QImage::Format_RGB32);
            small.fill(Qt::red);
            QBuffer buffer(&png);
            buffer.open(QIODevice::WriteOnly);
            small.save(&buffer, "PNG");
        }
        QByteArray jpeg;
        {
            QImage small(64, 64, QImage::Format_RGB32);
            small.fill(Qt::blue);
            QBuffer buffer(&jpeg);
            buffer.open(QIODevice::WriteOnly);
            small.save(&buffer, "JPG");
        }
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
};

QTEST_MAIN(TestFigureExport)
#include "tst_figure_export.moc"
