// The view: drawing and the click path.

#include "bench_data.h"
#include "view/kav_view.h"
#include "view/user_prompts.h"

#include <QImage>
#include <QPainter>
#include <QPolygon>

#include <benchmark/benchmark.h>

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

class NoPrompts final : public kav::CUserPrompts {
public:
    bool AskYesNo(QWidget*, const QString&, const QString&) override { return false; }
    void Tell(QWidget*, const QString&, const QString&, Icon) override {}
    std::optional<kav::SaveFormat> AskSaveFormat(QWidget*) override { return std::nullopt; }
    QString AskSavePath(QWidget*) override { return {}; }
    QString AskOpenPath(QWidget*) override { return {}; }
    void ShowListing(QWidget*, const QString&) override {}
    void ShowAbout(QWidget*) override {}
    std::unique_ptr<kav::CProgress> StartProgress(QWidget*, const QString&, qint64) override { return nullptr; }
};

void BM_Click(benchmark::State& state)
{
    NoPrompts prompts;
    kav::CKavView view(prompts);
    view.resize(kWidth, kHeight);
    // A million points, none within reach of the click.
    for (Point p : kav::bench::RandomPoints(static_cast<std::size_t>(state.range(0))))
        (void)view.Store().AppendPoint({p.x + 100, p.y + 100});
    for (auto _ : state) {
        view.OnLButtonDown(QPoint(20, 20));
        view.Store().RemoveLastPoint();
    }
}
BENCHMARK(BM_Click)->Arg(1'000'000)->Unit(benchmark::kMicrosecond);

} // namespace
