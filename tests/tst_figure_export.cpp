// The exports as the programs people use read them.

#include "exchange/figure_export.h"
#include "exchange/point_file.h"
#include "view/raster.h"

#include <QFile>
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
};

QTEST_MAIN(TestFigureExport)
#include "tst_figure_export.moc"
