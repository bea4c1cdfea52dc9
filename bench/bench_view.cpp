// The view: drawing and the click path.

#include "bench_data.h"
#include "exchange/coord_list_dlg.h"
#include "exchange/coordinate_format.h"
#include "exchange/listing_index.h"
#include "view/kav_view.h"
#include "view/user_prompts.h"

#include <QCoreApplication>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPolygon>

#include <benchmark/benchmark.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <string>

namespace {

using kav::Point;

constexpr int kWidth = 800;
constexpr int kHeight = 600;

void BM_DrawPoints(benchmark::State& state)
{
    const auto points = kav::bench::RandomWalk(static_cast<std::size_t>(state.range(0)), kWidth, kHeight);
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    for (auto _ : state) {
        kav::CKavView::DrawPoints(image, points);
        benchmark::DoNotOptimize(image.constBits());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_DrawPoints)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

// Long segments: random points over a range far wider than the view, so
// that nearly every segment crosses it.
void BM_DrawPointsLong(benchmark::State& state)
{
    std::vector<Point> points = kav::bench::RandomPoints(static_cast<std::size_t>(state.range(0)), 11);
    for (Point& p : points)
        p = {p.x * 10 - 20000 + kWidth / 2, p.y * 10 - 20000 + kHeight / 2};
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    for (auto _ : state) {
        kav::CKavView::DrawPoints(image, points);
        benchmark::DoNotOptimize(image.constBits());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_DrawPointsLong)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

void BM_QPainterPolyline(benchmark::State& state)
{
    const auto points = kav::bench::RandomWalk(static_cast<std::size_t>(state.range(0)), kWidth, kHeight);
    QPolygon polygon;
    polygon.reserve(static_cast<qsizetype>(points.size()));
    for (const Point& p : points)
        polygon.append(QPoint(p.x, p.y));
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    for (auto _ : state) {
        image.fill(Qt::white);
        QPainter painter(&image);
        painter.setPen(QPen(Qt::black, 0));
        painter.drawPolyline(polygon);
        painter.end();
        benchmark::DoNotOptimize(image.constBits());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_QPainterPolyline)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

// Answers every dialog at once: Yes, the comma format, and the given paths.
class NoPrompts final : public kav::CUserPrompts {
public:
    QString path;
    bool failed = false;

    bool AskYesNo(QWidget*, const QString&, const QString&) override { return true; }
    void Tell(QWidget*, const QString&, const QString&, Icon) override { failed = true; }
    std::optional<kav::SaveFormat> AskSaveFormat(QWidget*) override { return kav::SaveFormat{',', ',', 1}; }
    QString AskSavePath(QWidget*) override { return path; }
    QString AskOpenPath(QWidget*) override { return path; }
    // The real listing dialog, shown and painted once, then closed.
    void ShowListing(QWidget*, std::span<const Point> points, Point centre) override
    {
        kav::CCoordListDlg dialog;
        dialog.SetListing(points, centre);
        dialog.show();
        benchmark::DoNotOptimize(dialog.grab());
    }
    void ShowAbout(QWidget*) override { }
    std::unique_ptr<kav::CProgress> StartProgress(QWidget*, const QString&, qint64) override { return nullptr; }
};

void BM_Click(benchmark::State& state)
{
    NoPrompts prompts;
    kav::CKavView view(prompts);
    view.resize(kWidth, kHeight);
    // A million points, none within reach of the click.
    for (Point p : kav::bench::RandomPoints(static_cast<std::size_t>(state.range(0))))
        (void)view.Apply(kav::PointChange::Append({p.x + 100, p.y + 100}));
    for (auto _ : state) {
        view.OnLButtonDown(QPoint(20, 20));
        view.OnUndoPoint();
    }
}
// Without the index, which only the event loop builds: the walk of every
// point. 100M runs in `make bench-large`.
BENCHMARK(BM_Click)->Arg(1'000'000)->Arg(10'000'000)->Arg(100'000'000)->Unit(benchmark::kMicrosecond);

// A file of `count` random pairs below 4000, written once.
std::string PointFile(std::size_t count)
{
    const std::string path = kav::bench::TempPath("kav_bench_points_" + std::to_string(count) + ".txt");
    if (kav::bench::FileSize(path) == 0) {
        std::ofstream out(path, std::ios::binary);
        kav::WritePoints(out, kav::bench::RandomPoints(count, 3), {' ', '\n', 1});
    }
    return path;
}

// A file of `count` points of a random walk, clear of the band along the top
// and left edges where the click benchmarks click, written once.
std::string WalkFile(std::size_t count)
{
    const std::string path = kav::bench::TempPath("kav_bench_walk_" + std::to_string(count) + ".txt");
    if (kav::bench::FileSize(path) == 0) {
        std::vector<Point> points = kav::bench::RandomWalk(count, kWidth - 100, kHeight - 100);
        for (Point& p : points)
            p = {p.x + 100, p.y + 100};
        std::ofstream out(path, std::ios::binary);
        kav::WritePoints(out, points, {' ', '\n', 1});
    }
    return path;
}

// Runs the event loop until the picture shows every point and the join
// index holds them: the user has looked at the new figure for a moment.
void RunUntilIdle(kav::CKavView& view, QImage& image)
{
    while (!view.PictureComplete())
        view.render(&image);
    while (!view.JoinIndexComplete())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// Peak resident memory since the last reset, in bytes.
double PeakRss()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stod(line.substr(6)) * 1024;
    }
    return 0;
}

void ResetPeakRss()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

// A load, the event loop run until idle, then a click far from every point.
void BM_ClickAfterLoad(benchmark::State& state)
{
    NoPrompts prompts;
    prompts.path = QString::fromStdString(WalkFile(static_cast<std::size_t>(state.range(0))));
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    for (auto _ : state) {
        kav::CKavView view(prompts);
        view.resize(kWidth, kHeight);
        view.OnPointsOpen();
        RunUntilIdle(view, image);
        const auto start = std::chrono::steady_clock::now();
        view.OnLButtonDown(QPoint(20, 20));
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        if (prompts.failed || view.Store().ActivePoints().size() != static_cast<std::size_t>(state.range(0)) + 1)
            state.SkipWithError("the load or the click failed");
    }
}
// 100M runs in `make bench-large`.
BENCHMARK(BM_ClickAfterLoad)
    ->Arg(1'000'000)
    ->Arg(10'000'000)
    ->Arg(100'000'000)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

// Open over a figure of as many points, answered Tak: the wall time of the
// command, and the peak memory from its start until the new figure is
// drawn and indexed.
void BM_ReplaceCommand(benchmark::State& state)
{
    NoPrompts prompts;
    prompts.path = QString::fromStdString(WalkFile(static_cast<std::size_t>(state.range(0))));
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    double peak = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto view = std::make_unique<kav::CKavView>(prompts);
        view->resize(kWidth, kHeight);
        view->OnPointsOpen();
        RunUntilIdle(*view, image);
        ResetPeakRss();
        state.ResumeTiming();
        view->OnPointsOpen();
        state.PauseTiming();
        RunUntilIdle(*view, image);
        peak = std::max(peak, PeakRss());
        if (prompts.failed || view->Store().ActivePoints().size() != static_cast<std::size_t>(state.range(0)))
            state.SkipWithError("the load failed");
        view.reset();
        state.ResumeTiming();
    }
    state.counters["peak_rss_gib"] = peak / (1024.0 * 1024.0 * 1024.0);
}
// 100M runs in `make bench-large`.
BENCHMARK(BM_ReplaceCommand)
    ->Arg(1'000'000)
    ->Arg(10'000'000)
    ->Arg(100'000'000)
    ->UseRealTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

void BM_OpenCommand(benchmark::State& state)
{
    NoPrompts prompts;
    prompts.path = QString::fromStdString(PointFile(static_cast<std::size_t>(state.range(0))));
    for (auto _ : state) {
        kav::CKavView view(prompts);
        view.OnPointsOpen();
        if (prompts.failed || view.Store().ActivePoints().size() != static_cast<std::size_t>(state.range(0)))
            state.SkipWithError("the load failed");
    }
    state.SetBytesProcessed(
        static_cast<std::int64_t>(state.iterations() * kav::bench::FileSize(prompts.path.toStdString())));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
// The file is read on a thread of its own: wall time is what the user waits.
BENCHMARK(BM_OpenCommand)
    ->Arg(1'000'000)
    ->Arg(10'000'000)
    ->Arg(100'000'000)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

void BM_SaveCommand(benchmark::State& state)
{
    NoPrompts prompts;
    prompts.path = QString::fromStdString(kav::bench::TempPath("kav_bench_save.txt"));
    kav::CKavView view(prompts);
    for (const Point& p : kav::bench::RandomPoints(static_cast<std::size_t>(state.range(0)), 3))
        (void)view.Apply(kav::PointChange::Append(p));
    for (auto _ : state) {
        view.OnPointsSave();
        if (prompts.failed)
            state.SkipWithError("the save failed");
    }
    state.SetBytesProcessed(
        static_cast<std::int64_t>(state.iterations() * kav::bench::FileSize(prompts.path.toStdString())));
    state.SetItemsProcessed(state.iterations() * state.range(0));
    QFile::remove(prompts.path);
}
BENCHMARK(BM_SaveCommand)->Arg(10'000'000)->Unit(benchmark::kMillisecond);

void BM_ShowListing(benchmark::State& state)
{
    NoPrompts prompts;
    kav::CKavView view(prompts);
    view.resize(kWidth, kHeight);
    for (const Point& p : kav::bench::RandomPoints(static_cast<std::size_t>(state.range(0)), 5))
        (void)view.Apply(kav::PointChange::Append(p));
    for (auto _ : state)
        view.OnShowCoords();
    kav::ListingIndex listing(view.Store().ActivePoints(), kWidth / 2, kHeight / 2);
    listing.Build();
    state.counters["listing_chars"] = static_cast<double>(listing.Size());
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
// 100M runs only in `make bench-large`.
BENCHMARK(BM_ShowListing)->Arg(1'000'000)->Arg(10'000'000)->Arg(100'000'000)->Unit(benchmark::kMillisecond);

// A view of `count` points from a random walk, kept clear of the band
// along the top and left edges where the click benchmarks click, drawn and
// indexed as the window would be once the user has waited a moment.
class ReadyView {
public:
    explicit ReadyView(std::size_t count)
        : view(prompts)
        , image(kWidth, kHeight, QImage::Format_RGB32)
    {
        view.resize(kWidth, kHeight);
        for (Point p : kav::bench::RandomWalk(count, kWidth - 100, kHeight - 100))
            (void)view.Apply(kav::PointChange::Append({p.x + 100, p.y + 100}));
        while (!view.PictureComplete())
            Render();
        while (!view.JoinIndexComplete())
            QCoreApplication::processEvents();
    }
    void Render() { view.render(&image); }

    NoPrompts prompts;
    kav::CKavView view;
    QImage image;
};

void BM_ClickPaint(benchmark::State& state)
{
    ReadyView ready(static_cast<std::size_t>(state.range(0)));
    int i = 0;
    for (auto _ : state) {
        // Ten pixels apart along the free band: no click joins another.
        ready.view.OnLButtonDown(QPoint(5 + 10 * (i % 80), 5 + 10 * (i / 80 % 10)));
        ready.Render();
        ++i;
    }
    if (!ready.view.PictureComplete() || ready.prompts.failed)
        state.SkipWithError("the picture fell behind");
}
BENCHMARK(BM_ClickPaint)->Arg(10'000'000)->Iterations(400)->Unit(benchmark::kMillisecond);

void BM_Expose(benchmark::State& state)
{
    ReadyView ready(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state)
        ready.Render();
}
BENCHMARK(BM_Expose)->Arg(10'000'000)->Unit(benchmark::kMillisecond);

// The whole picture again, as after a replacing Open: paints until it
// shows every point.
void BM_Redraw(benchmark::State& state)
{
    ReadyView ready(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        (void)ready.view.Store(); // the view cannot tell what changed: it starts over
        do
            ready.Render();
        while (!ready.view.PictureComplete());
    }
}
BENCHMARK(BM_Redraw)->Arg(10'000'000)->Unit(benchmark::kMillisecond);

// Undo, then paints until the picture shows every point again.
void BM_UndoPaint(benchmark::State& state)
{
    ReadyView ready(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        ready.view.OnUndoPoint();
        do
            ready.Render();
        while (!ready.view.PictureComplete());
    }
}
// 100M runs in `make bench-large`.
BENCHMARK(BM_UndoPaint)->Arg(1'000'000)->Arg(10'000'000)->Arg(100'000'000)->Unit(benchmark::kMillisecond);

} // namespace
