#include "exchange/figure_export.h"

#include <dxflib/dl_dxf.h>
#include <dxflib/dl_writer_ascii.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace kav {

namespace {

// Points between a block's flush and a look at the cancel.
constexpr std::size_t kBlockPoints = std::size_t{1} << 16;
constexpr std::size_t kFlushBytes = std::size_t{1} << 20;

// A text built in large blocks and handed to an unbuffered stream. Small
// pieces are copied straight into a fixed buffer: a vertex is a dozen.
class Blocks {
public:
    explicit Blocks(std::ostream& out)
        : m_out(out)
        , m_buffer(kFlushBytes + kRoom)
        , m_end(m_buffer.data())
    {
    }
    void Add(std::string_view text)
    {
        if (text.size() > kRoom) {
            for (std::size_t at = 0; at < text.size(); at += kRoom)
                Add(text.substr(at, kRoom));
            return;
        }
        MakeRoom();
        std::memcpy(m_end, text.data(), text.size());
        m_end += text.size();
    }
    void Add(char c)
    {
        MakeRoom();
        *m_end++ = c;
    }
    template <class Value> void Number(Value value)
    {
        MakeRoom();
        m_end = std::to_chars(m_end, m_end + kRoom, value).ptr;
    }
    // Hands over what was built; false once the stream failed.
    bool Flush()
    {
        // After a failure the rest is dropped; the caller sees the failure.
        if (m_end != m_buffer.data() && m_out)
            m_out.write(m_buffer.data(), m_end - m_buffer.data());
        m_end = m_buffer.data();
        return static_cast<bool>(m_out);
    }

private:
    // Room enough for any one piece but a long text, which comes in parts.
    static constexpr std::size_t kRoom = 64;
    void MakeRoom()
    {
        if (m_end > m_buffer.data() + kFlushBytes) [[unlikely]]
            Flush();
    }
    std::ostream& m_out;
    std::vector<char> m_buffer;
    char* m_end;
};

struct Bounds {
    std::int64_t minX = std::numeric_limits<std::int32_t>::max();
    std::int64_t minY = std::numeric_limits<std::int32_t>::max();
    std::int64_t maxX = std::numeric_limits<std::int32_t>::min();
    std::int64_t maxY = std::numeric_limits<std::int32_t>::min();
};

Bounds BoundsOf(std::span<const Point> points)
{
    Bounds b;
    for (const Point p : points) {
        b.minX = std::min<std::int64_t>(b.minX, p.x);
        b.minY = std::min<std::int64_t>(b.minY, p.y);
        b.maxX = std::max<std::int64_t>(b.maxX, p.x);
        b.maxY = std::max<std::int64_t>(b.maxY, p.y);
    }
    return b;
}

// Calls write(i) for every point, a block at a time, flushing and counting
// between blocks; false once a write failed or the job was cancelled.
template <class Write>
bool EachPoint(Blocks& text, std::span<const Point> points, const FileJobControl& control, Write write)
{
    for (std::size_t done = 0; done < points.size();) {
        if (control.Cancelled())
            return false;
        const std::size_t end = std::min(points.size(), done + kBlockPoints);
        for (; done < end; ++done)
            write(done);
        if (!text.Flush())
            return false;
        if (control.points != nullptr)
            *control.points = static_cast<std::int64_t>(done);
    }
    return true;
}

// dxflib's ASCII writer, onto our stream instead of a file of its own. Its
// file stream is never opened: every output call is ours.
class DxfStreamWriter final : public DL_WriterA {
public:
    explicit DxfStreamWriter(Blocks& text)
        : DL_WriterA("", DL_VERSION_2000)
        , m_text(text)
    {
    }
    void dxfReal(int gc, double value) const override
    {
        Code(gc);
        // Every vertex is a whole number, written without a fraction.
        const auto whole = static_cast<std::int64_t>(value);
        if (static_cast<double>(whole) == value && std::abs(value) < 1e15)
            m_text.Number(whole);
        else
            m_text.Number(value);
        m_text.Add('\n');
    }
    void dxfInt(int gc, int value) const override
    {
        Code(gc);
        m_text.Number(value);
        m_text.Add('\n');
    }
    void dxfHex(int gc, int value) const override
    {
        Code(gc);
        char digits[16];
        const auto end = std::to_chars(digits, digits + sizeof digits, static_cast<unsigned>(value), 16).ptr;
        std::transform(digits, end, digits, [](char c) { return c >= 'a' ? static_cast<char>(c - 'a' + 'A') : c; });
        m_text.Add(std::string_view(digits, static_cast<std::size_t>(end - digits)));
        m_text.Add('\n');
    }
    void dxfString(int gc, const char* value) const override
    {
        Code(gc);
        m_text.Add(value);
        m_text.Add('\n');
    }
    void dxfString(int gc, const std::string& value) const override { dxfString(gc, value.c_str()); }

private:
    // Group codes without the padding some writers add: readers trim it,
    // and it would be a tenth of a large file.
    void Code(int gc) const
    {
        m_text.Number(gc);
        m_text.Add('\n');
    }
    Blocks& m_text;
};

} // namespace

ExportTarget ResolveExport(const QString& path, ExportFormat chosen)
{
    struct Known {
        const char* extension;
        ExportFormat format;
    };
    static constexpr Known kKnown[] = {{".svg", ExportFormat::Svg}, {".dxf", ExportFormat::Dxf},
                                       {".png", ExportFormat::Png}};
    for (const Known& known : kKnown) {
        if (path.endsWith(QLatin1String(known.extension), Qt::CaseInsensitive) && path.size() > 4)
            return {path, known.format};
    }
    for (const Known& known : kKnown) {
        if (known.format == chosen)
            return {path + QLatin1String(known.extension), chosen};
    }
    return {path, chosen};
}

bool WriteSvg(std::ostream& out, std::span<const Point> points, const FileJobControl& control)
{
    if (points.empty())
        return true;
    // The margin holds the end circle, 4 units round the last point.
    constexpr int kMargin = 5;
    const Bounds b = BoundsOf(points);
    const std::int64_t left = b.minX - kMargin;
    const std::int64_t top = b.minY - kMargin;
    const std::int64_t width = b.maxX - b.minX + 1 + 2 * kMargin;
    const std::int64_t height = b.maxY - b.minY + 1 + 2 * kMargin;
    Blocks text(out);
    text.Add("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\n"
             "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"");
    text.Number(width);
    text.Add("\" height=\"");
    text.Number(height);
    text.Add("\" viewBox=\"");
    for (const std::int64_t v : {left, top, width, height}) {
        text.Number(v);
        text.Add(v == height ? "\">\n" : " ");
    }
    // A unit's line through the middle of the editor's pixels, its square
    // ends covering the end pixels as the editor's do.
    text.Add("<polyline transform=\"translate(0.5 0.5)\" fill=\"none\" stroke=\"#000000\" stroke-width=\"1\" "
             "stroke-linejoin=\"round\" stroke-linecap=\"square\" points=\"");
    const auto add = [&](Point p) {
        text.Number(p.x);
        text.Add(',');
        text.Number(p.y);
    };
    const auto write = [&](std::size_t i) {
        if (i > 0)
            text.Add(' ');
        add(points[i]);
    };
    if (!EachPoint(text, points, control, write))
        return false;
    if (points.size() == 1) { // a line to itself: its square ends show the point
        text.Add(' ');
        add(points[0]);
    }
    const Point last = points.back();
    text.Add("\"/>\n<circle cx=\"");
    text.Number(last.x);
    text.Add("\" cy=\"");
    text.Number(last.y);
    text.Add("\" r=\"3.5\" fill=\"#ffffff\" stroke=\"#000000\" stroke-width=\"1\"/>\n</svg>\n");
    return text.Flush();
}

bool WriteDxf(std::ostream& out, std::span<const Point> points, const FileJobControl& control)
{
    if (points.empty())
        return true;
    Blocks text(out);
    DxfStreamWriter dw(text);
    DL_Dxf dxf;
    const DL_Attributes layer0("0", 256, -1, "BYLAYER", 1.0);
    // The sections that CAD programs expect before the entities, as
    // dxflib's own writer lays them out.
    dxf.writeHeader(dw);
    dw.sectionEnd();
    dw.sectionTables();
    dxf.writeVPort(dw);
    dw.tableLinetypes(3);
    dxf.writeLinetype(dw, DL_LinetypeData("BYBLOCK", "", 0, 0, 0.0));
    dxf.writeLinetype(dw, DL_LinetypeData("BYLAYER", "", 0, 0, 0.0));
    dxf.writeLinetype(dw, DL_LinetypeData("CONTINUOUS", "Solid line", 0, 0, 0.0));
    dw.tableEnd();
    dw.tableLayers(1);
    dxf.writeLayer(dw, DL_LayerData("0", 0), DL_Attributes("", DL_Codes::black, 100, "CONTINUOUS", 1.0));
    dw.tableEnd();
    dw.tableStyle(1);
    dxf.writeStyle(dw, DL_StyleData("standard", 0, 2.5, 1.0, 0.0, 0, 2.5, "txt", ""));
    dw.tableEnd();
    dxf.writeView(dw);
    dxf.writeUcs(dw);
    dw.tableAppid(1);
    dxf.writeAppid(dw, "ACAD");
    dw.tableEnd();
    dxf.writeDimStyle(dw, 1, 1, 1, 1, 1);
    dxf.writeBlockRecord(dw);
    dw.tableEnd();
    dw.sectionEnd();
    dw.sectionBlocks();
    dxf.writeBlock(dw, DL_BlockData("*Model_Space", 0, 0.0, 0.0, 0.0));
    dxf.writeEndBlock(dw, "*Model_Space");
    dxf.writeBlock(dw, DL_BlockData("*Paper_Space", 0, 0.0, 0.0, 0.0));
    dxf.writeEndBlock(dw, "*Paper_Space");
    dxf.writeBlock(dw, DL_BlockData("*Paper_Space0", 0, 0.0, 0.0, 0.0));
    dxf.writeEndBlock(dw, "*Paper_Space0");
    dw.sectionEnd();
    dw.sectionEntities();
    const bool closed = points.size() > 1 && points.front() == points.back();
    dxf.writePolyline(dw, DL_PolylineData(static_cast<int>(std::min<std::size_t>(points.size(), INT32_MAX)), 0, 0,
                                          closed ? 1 : 0),
                      layer0);
    const auto write = [&](std::size_t i) {
        dxf.writeVertex(dw, DL_VertexData(points[i].x, -static_cast<double>(points[i].y), 0.0, 0.0));
    };
    if (!EachPoint(text, points, control, write))
        return false;
    dxf.writePolylineEnd(dw);
    dw.sectionEnd();
    dxf.writeObjects(dw);
    dxf.writeObjectsEnd(dw);
    dw.dxfEOF();
    return text.Flush();
}

} // namespace kav
