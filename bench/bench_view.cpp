// The view: drawing and the click path.

#include "bench_data.h"
#include "exchange/coord_list_dlg.h"
#include "exchange/coordinate_format.h"
#include "exchange/file_commands.h"
#include "exchange/listing_index.h"
#include "view/kav_view.h"
#include "view/underlay.h"
#include "exchange/point_journal.h"
#include "view/user_prompts.h"

#include <QCoreApplication>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPolygon>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
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
    // When a progress last started: the command has handed its work to a
    // thread and the UI thread is free again.
    std::chrono::steady_clock::time_point progressStarted;
    bool cancelAtFirstUpdate = false;

    bool AskYesNo(QWidget*, const QString&, const QString&) override { return true; }
    void Tell(QWidget*, const QString&, const QString&, Icon) override { failed = true; }
    std::optional<kav::SaveFormat> AskSaveFormat(QWidget*) override { return kav::SaveFormat{',', ',', 1}; }
    QString AskSavePath(QWidget*) override { return path; }
    QString AskOpenPath(QWidget*) override { return path; }
    kav::ExportFormat exportAs = kav::ExportFormat::Svg;
    std::optional<kav::ExportTarget> AskExportPath(QWidget*) override { return kav::ExportTarget{path, exportAs}; }
    QString AskUnderlayPath(QWidget*) override { return path; }
    // The real listing dialog, shown and painted once, then closed.
    void ShowListing(QWidget*, std::span<const Point> points, Point centre) override
    {
        kav::CCoordListDlg dialog;
        dialog.SetListing(points, centre);
        dialog.show();
        benchmark::DoNotOptimize(dialog.grab());
    }
    void CloseListing() override {}
    void ShowAbout(QWidget*) override { }
    std::unique_ptr<kav::CProgress> StartProgress(QWidget*, kav::ProgressWork, const QString&, qint64) override
    {
        progressStarted = std::chrono::steady_clock::now();
        struct Cancel final : kav::CProgress {
            bool Update(qint64, qint64) override { return false; }
        };
        return cancelAtFirstUpdate ? std::make_unique<Cancel>() : nullptr;
    }
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
BENCHMARK(BM_Click)->Apply(kav::bench::AtEverySize)->Unit(benchmark::kMicrosecond);

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

// A view with its file commands, as the main window puts them together.
struct Window {
    explicit Window(kav::CUserPrompts& prompts)
        : view(prompts)
        , files(view, view.Document(), prompts, view.Commands())
    {
    }
    kav::CKavView view;
    kav::CFileCommands files;
};

// Runs the event loop until the command under way has ended: its job's end
// comes as an event.
void Finish(kav::CKavView& view)
{
    while (view.CommandRunning())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
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

// A load of range(0) points, `wait` run on the view, then a click far from
// every point, timed.
template <class Wait>
void ClickAfterLoad(benchmark::State& state, const Wait& wait)
{
    NoPrompts prompts;
    prompts.path = QString::fromStdString(WalkFile(static_cast<std::size_t>(state.range(0))));
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    for (auto _ : state) {
        Window window(prompts);
        kav::CKavView& view = window.view;
        view.resize(kWidth, kHeight);
        window.files.OnPointsOpen();
        Finish(view);
        wait(view, image);
        const auto start = std::chrono::steady_clock::now();
        view.OnLButtonDown(QPoint(20, 20));
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        if (prompts.failed || view.Store().ActivePoints().size() != static_cast<std::size_t>(state.range(0)) + 1)
            state.SkipWithError("the load or the click failed");
    }
}

// The event loop run until idle: the figure drawn and indexed.
void BM_ClickAfterLoad(benchmark::State& state)
{
    ClickAfterLoad(state, RunUntilIdle);
}
BENCHMARK(BM_ClickAfterLoad)
    ->Apply(kav::bench::AtEverySize)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

// While the loaded figure is still being indexed: after one turn of the
// event loop past the load (range 1 = 0), or once the picture is drawn (1).
void BM_ClickDuringIndex(benchmark::State& state)
{
    ClickAfterLoad(state, [&](kav::CKavView& view, QImage& image) {
        do {
            QCoreApplication::processEvents();
            view.render(&image);
        } while (state.range(1) == 1 && !view.PictureComplete());
    });
}
BENCHMARK(BM_ClickDuringIndex)
    ->ArgsProduct({{10'000'000, 100'000'000}, {0, 1}})
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
        auto window = std::make_unique<Window>(prompts);
        kav::CKavView* view = &window->view;
        view->resize(kWidth, kHeight);
        window->files.OnPointsOpen();
        Finish(*view);
        RunUntilIdle(*view, image);
        ResetPeakRss();
        state.ResumeTiming();
        window->files.OnPointsOpen();
        Finish(*view);
        state.PauseTiming();
        RunUntilIdle(*view, image);
        peak = std::max(peak, PeakRss());
        if (prompts.failed || view->Store().ActivePoints().size() != static_cast<std::size_t>(state.range(0)))
            state.SkipWithError("the load failed");
        window.reset();
        state.ResumeTiming();
    }
    state.counters["peak_rss_gib"] = peak / (1024.0 * 1024.0 * 1024.0);
}
BENCHMARK(BM_ReplaceCommand)
    ->Apply(kav::bench::AtEverySize)
    ->UseRealTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

void BM_OpenCommand(benchmark::State& state)
{
    NoPrompts prompts;
    prompts.path = QString::fromStdString(PointFile(static_cast<std::size_t>(state.range(0))));
    for (auto _ : state) {
        Window window(prompts);
        kav::CKavView& view = window.view;
        window.files.OnPointsOpen();
        Finish(view);
        if (prompts.failed || view.Store().ActivePoints().size() != static_cast<std::size_t>(state.range(0)))
            state.SkipWithError("the load failed");
    }
    state.SetBytesProcessed(
        static_cast<std::int64_t>(state.iterations() * kav::bench::FileSize(prompts.path.toStdString())));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
// The file is read on a thread of its own: wall time is what the user waits.
BENCHMARK(BM_OpenCommand)
    ->Apply(kav::bench::AtEverySize)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// The same with the recovery journal recording: the UI thread only hands
// the new figure to the journal's thread, whose writing is not timed.
void BM_OpenCommandJournal(benchmark::State& state)
{
    NoPrompts prompts;
    prompts.path = QString::fromStdString(PointFile(static_cast<std::size_t>(state.range(0))));
    const std::string folder = kav::bench::TempPath("kav_bench_open_journal");
    for (auto _ : state) {
        state.PauseTiming();
        kav::PointJournal journal;
        if (!journal.Open(folder).Ok())
            state.SkipWithError("no journal folder");
        auto window = std::make_unique<Window>(prompts);
        kav::CKavView* view = &window->view;
        view->Document().SetObserver(kav::PointDocument::Slot::Journal, &journal);
        view->Document().AddReader(&journal);
        state.ResumeTiming();
        window->files.OnPointsOpen();
        Finish(*view);
        state.PauseTiming();
        if (prompts.failed || view->Store().ActivePoints().size() != static_cast<std::size_t>(state.range(0)))
            state.SkipWithError("the load failed");
        journal.WaitForThread();
        window.reset();
        journal.Discard();
        state.ResumeTiming();
    }
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_OpenCommandJournal)->Arg(10'000'000)->UseRealTime()->Unit(benchmark::kMillisecond);

// The points at once, as an Open gives them: a click at a time would take
// minutes at 100M.
void Fill(kav::CKavView& view, std::size_t count)
{
    kav::PointStore points;
    if (!points.AppendPoints(kav::bench::RandomPoints(count, 3)) || !view.Apply(kav::PointChange::AppendAll(points)))
        std::abort();
}

void BM_SaveCommand(benchmark::State& state)
{
    NoPrompts prompts;
    prompts.path = QString::fromStdString(kav::bench::TempPath("kav_bench_save.txt"));
    Window window(prompts);
    kav::CKavView& view = window.view;
    Fill(view, static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        window.files.OnPointsSave();
        Finish(view);
        if (prompts.failed)
            state.SkipWithError("the save failed");
    }
    state.SetBytesProcessed(
        static_cast<std::int64_t>(state.iterations() * kav::bench::FileSize(prompts.path.toStdString())));
    state.SetItemsProcessed(state.iterations() * state.range(0));
    QFile::remove(prompts.path);
}
// The file is written on a thread of its own: wall time is what the user
// waits, up to the renamed file on disk. 100M runs in `make bench-large`.
BENCHMARK(BM_SaveCommand)
    ->Apply(kav::bench::AtEverySize)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// The export command, as Save above: wall time to the renamed file.
void ExportCommand(benchmark::State& state, kav::ExportFormat format, const char* name)
{
    NoPrompts prompts;
    prompts.path = QString::fromStdString(kav::bench::TempPath(name));
    prompts.exportAs = format;
    Window window(prompts);
    kav::CKavView& view = window.view;
    Fill(view, static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        window.files.OnExport();
        Finish(view);
        if (prompts.failed)
            state.SkipWithError("the export failed");
    }
    state.SetBytesProcessed(
        static_cast<std::int64_t>(state.iterations() * kav::bench::FileSize(prompts.path.toStdString())));
    state.SetItemsProcessed(state.iterations() * state.range(0));
    QFile::remove(prompts.path);
}

void BM_ExportSvg(benchmark::State& state)
{
    ExportCommand(state, kav::ExportFormat::Svg, "kav_bench_export.svg");
}
BENCHMARK(BM_ExportSvg)->Apply(kav::bench::AtEverySize)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_ExportDxf(benchmark::State& state)
{
    ExportCommand(state, kav::ExportFormat::Dxf, "kav_bench_export.dxf");
}
BENCHMARK(BM_ExportDxf)->Apply(kav::bench::AtEverySize)->UseRealTime()->Unit(benchmark::kMillisecond);

// How long the UI thread is held from the command until the write runs on
// its thread and the window handles events again. The save is then
// cancelled at the progress's first update, so that no file is written.
void BM_SaveBlocking(benchmark::State& state)
{
    NoPrompts prompts;
    prompts.path = QString::fromStdString(kav::bench::TempPath("kav_bench_save_blocking.txt"));
    prompts.cancelAtFirstUpdate = true;
    Window window(prompts);
    kav::CKavView& view = window.view;
    Fill(view, static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        window.files.OnPointsSave();
        Finish(view);
        if (prompts.failed)
            state.SkipWithError("the save failed");
        state.SetIterationTime(std::chrono::duration<double>(prompts.progressStarted - start).count());
    }
    QFile::remove(prompts.path);
}
BENCHMARK(BM_SaveBlocking)
    ->Apply(kav::bench::AtEverySize)
    ->UseManualTime()
    ->Iterations(40) // each waits a progress step, which the manual time leaves out
    ->Unit(benchmark::kMillisecond);

// A random walk eight times the view's size, the view fitted to it and its
// picture and join index complete: what the user sees after an Open.
class ZoomedView {
public:
    explicit ZoomedView(std::size_t count)
        : window(prompts)
        , image(kWidth, kHeight, QImage::Format_RGB32)
    {
        window.view.resize(kWidth, kHeight);
        kav::PointStore points;
        for (Point p : kav::bench::RandomWalk(count, kWidth, kHeight))
            if (!points.AppendPoint({p.x * 8, p.y * 8}))
                std::abort();
        if (!window.view.Apply(kav::PointChange::AppendAll(points)))
            std::abort();
        window.view.OnFitToWindow();
        RunUntilIdle(window.view, image);
    }
    kav::CKavView& View() { return window.view; }
    // Paints until the picture is exact, as the event loop would between events.
    void DrawAll()
    {
        do
            window.view.render(&image);
        while (!window.view.PictureComplete());
    }
    NoPrompts prompts;
    Window window;
    QImage image;
};

// Times `move(sign)`, the sign turning each time, and then one paint (what
// the UI thread does before the provisional picture shows) or, with
// `exact`, every paint until the exact picture shows.
template <class Move> void TimeMoves(benchmark::State& state, ZoomedView& zoomed, const Move& move, bool exact)
{
    int sign = 1;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        move(sign);
        if (exact)
            zoomed.DrawAll();
        else
            zoomed.View().render(&zoomed.image);
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        zoomed.DrawAll();
        sign = -sign;
    }
}

constexpr QPoint kMiddle(kWidth / 2, kHeight / 2);

// One notch of the wheel in, then out, from the fitted view.
void BM_ZoomStep(benchmark::State& state)
{
    ZoomedView zoomed(static_cast<std::size_t>(state.range(0)));
    TimeMoves(state, zoomed, [&](int sign) { zoomed.View().ZoomAt(kMiddle, sign); }, false);
}
BENCHMARK(BM_ZoomStep)->Apply(kav::bench::AtEverySize)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_ZoomExact(benchmark::State& state)
{
    ZoomedView zoomed(static_cast<std::size_t>(state.range(0)));
    TimeMoves(state, zoomed, [&](int sign) { zoomed.View().ZoomAt(kMiddle, -sign); }, true);
}
BENCHMARK(BM_ZoomExact)->Apply(kav::bench::AtEverySize)->UseManualTime()->Unit(benchmark::kMillisecond);

// 40 px pans at 64 times the fitted scale, where the view holds well under
// 1% of the points: to the exact picture, and the UI thread's part.
void BM_ZoomedInExact(benchmark::State& state)
{
    ZoomedView zoomed(static_cast<std::size_t>(state.range(0)));
    zoomed.View().ZoomAt(kMiddle, 6);
    zoomed.DrawAll();
    TimeMoves(state, zoomed, [&](int sign) { zoomed.View().PanBy({40 * sign, 0}); }, true);
}
BENCHMARK(BM_ZoomedInExact)->Apply(kav::bench::AtEverySize)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_PanStep(benchmark::State& state)
{
    ZoomedView zoomed(static_cast<std::size_t>(state.range(0)));
    zoomed.View().ZoomAt(kMiddle, 6);
    zoomed.DrawAll();
    TimeMoves(state, zoomed, [&](int sign) { zoomed.View().PanBy({40 * sign, 0}); }, false);
}
BENCHMARK(BM_PanStep)->Apply(kav::bench::AtEverySize)->UseManualTime()->Unit(benchmark::kMillisecond);

// A click at the scale 2^-k, index complete, in the view's corner beyond
// the figure, so that no point is in reach; then Undo.
void BM_ClickAtScale(benchmark::State& state)
{
    ZoomedView zoomed(static_cast<std::size_t>(state.range(0)));
    kav::CKavView& view = zoomed.View();
    view.OnActualSize();
    view.ZoomAt({0, 0}, -static_cast<int>(state.range(1)));
    view.PanBy({kWidth - 20, kHeight - 20}); // the figure moves off towards the bottom right
    for (auto _ : state) {
        view.OnLButtonDown(QPoint(5, 5));
        view.OnUndoPoint();
    }
}
BENCHMARK(BM_ClickAtScale)
    ->ArgsProduct({{1'000'000, 10'000'000, 100'000'000}, {0, 5, 10}})
    ->Unit(benchmark::kMicrosecond);

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
BENCHMARK(BM_ShowListing)->Apply(kav::bench::AtEverySize)->Unit(benchmark::kMillisecond);

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

// The same two with the largest underlay under the figure: drawing it must
// not slow them.
void WithLargestUnderlay(ReadyView& ready)
{
    QImage image(kav::Underlay::kMaxSide, kav::Underlay::kMaxSide, QImage::Format_RGB32);
    image.fill(qRgb(200, 220, 255));
    ready.view.SetUnderlay(kav::Underlay::FromImage(std::move(image)));
    if (!ready.view.UnderlayShown())
        std::abort();
}

void BM_ClickPaintUnderlay(benchmark::State& state)
{
    ReadyView ready(static_cast<std::size_t>(state.range(0)));
    WithLargestUnderlay(ready);
    int i = 0;
    for (auto _ : state) {
        ready.view.OnLButtonDown(QPoint(5 + 10 * (i % 80), 5 + 10 * (i / 80 % 10)));
        ready.Render();
        ++i;
    }
}
BENCHMARK(BM_ClickPaintUnderlay)->Arg(10'000'000)->Iterations(400)->Unit(benchmark::kMillisecond);

void BM_ExposeUnderlay(benchmark::State& state)
{
    ReadyView ready(static_cast<std::size_t>(state.range(0)));
    WithLargestUnderlay(ready);
    for (auto _ : state)
        ready.Render();
}
BENCHMARK(BM_ExposeUnderlay)->Arg(10'000'000)->Unit(benchmark::kMillisecond);

// The whole picture again, as after a replacing Open: paints until it
// shows every point.
void BM_Redraw(benchmark::State& state)
{
    ReadyView ready(static_cast<std::size_t>(state.range(0)));
    int i = 0;
    for (auto _ : state) {
        ready.view.resize(kWidth, kHeight - ++i % 2); // a new size starts the picture over
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
BENCHMARK(BM_UndoPaint)->Apply(kav::bench::AtEverySize)->Unit(benchmark::kMillisecond);

// From the start of an instance to the figure of a dead one's journal on
// screen: the journal found, read, adopted, and the picture complete.
void BM_Recover(benchmark::State& state)
{
    const std::string folder = kav::bench::TempPath("kav_bench_journals");
    std::filesystem::remove_all(folder);
    const auto count = static_cast<std::size_t>(state.range(0));
    {
        kav::PointJournal dead;
        kav::PointStore points;
        if (!dead.Open(folder).Ok())
            state.SkipWithError("no journal folder");
        for (Point p : kav::bench::RandomWalk(count, kWidth, kHeight))
            (void)points.AppendPoint(p);
        dead.Record(kav::PointChange::ReplaceAll(points), points.ActivePoints());
        dead.WaitForThread();
        state.counters["journal_bytes"] = static_cast<double>(dead.FileBytes());
    } // ends without Discard, as a crash would
    for (auto _ : state) {
        NoPrompts prompts;
        kav::CKavView view(prompts);
        view.resize(kWidth, kHeight);
        kav::PointJournal own; // ends without Discard too: the next round finds it
        if (!own.Open(folder).Ok())
            state.SkipWithError("no journal");
        view.Document().SetObserver(kav::PointDocument::Slot::Journal, &own);
        view.Document().AddReader(&own);
        std::vector<kav::FoundJournal> found = kav::FindDeadJournals(folder, own.Id());
        auto recovered = std::make_unique<kav::PointStore>();
        const kav::JournalRead read
            = found.empty() ? kav::JournalRead{} : kav::ReadJournal(found[0].JournalPath(), *recovered);
        if (!read.result.Ok() || !view.Apply(kav::PointChange::Recovered(*recovered))
            || !own.Adopt(found[0], read, view.Store().ActivePoints()).Ok()) {
            state.SkipWithError("nothing recovered");
            break;
        }
        QImage image(kWidth, kHeight, QImage::Format_RGB32);
        do
            view.render(&image);
        while (!view.PictureComplete());
        if (view.Store().ActivePoints().size() != count)
            state.SkipWithError("a different figure");
    }
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_Recover)->Arg(10'000'000)->Unit(benchmark::kMillisecond);

} // namespace
