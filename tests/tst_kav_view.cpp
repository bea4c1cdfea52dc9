#include "paint_counter.h"
#include "scripted_prompts.h"

#include "res/strings.h"
#include "exchange/file_commands.h"
#include "view/kav_view.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <random>
#include <utility>

using kav::CKavView;
using kav::Point;

namespace {

QRgb Rgb(const QImage& image, int x, int y)
{
    return image.pixel(x, y) & 0xFFFFFF;
}
constexpr QRgb kBlack = 0x000000;
constexpr QRgb kWhite = 0xFFFFFF;

} // namespace

class TestKavView : public QObject {
    Q_OBJECT

    ScriptedPrompts* m_prompts = nullptr;
    CKavView* m_view = nullptr;

    std::vector<Point> Points() const
    {
        // Read through the const store: the other one restarts the picture.
        const auto points = std::as_const(*m_view).Store().ActivePoints();
        return {points.begin(), points.end()};
    }
    void Click(int x, int y) { QTest::mouseClick(m_view, Qt::LeftButton, {}, QPoint(x, y)); }
    QStringList Readouts(QSignalSpy& spy)
    {
        if (spy.isEmpty())
            return {};
        const QList<QVariant> last = spy.takeLast();
        spy.clear();
        return {last[0].toString(), last[1].toString(), last[2].toString()};
    }

private Q_SLOTS:
    void init()
    {
        m_prompts = new ScriptedPrompts;
        m_view = new CKavView(*m_prompts);
        m_view->resize(400, 300);
        m_view->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_view));
    }
    void cleanup()
    {
        delete m_view;
        delete m_prompts;
    }

    void clicksAppendAndNearClicksAskToJoin()
    {
        Click(100, 100);
        QVERIFY(m_prompts->asked.isEmpty()); // the first click asks nothing
        Click(200, 50);
        QVERIFY(m_prompts->asked.isEmpty());

        m_prompts->yesNo = {true};
        Click(103, 96); // within 4 pixels of the first point: offered, and taken
        QCOMPARE(m_prompts->asked.size(), 1);
        QCOMPARE(m_prompts->asked[0].kind, QStringLiteral("question"));
        QCOMPARE(m_prompts->asked[0].text, QStringLiteral("Czy połączyć odcinki?"));
        QCOMPARE(m_prompts->asked[0].caption, QStringLiteral("Połączyć?"));
        QCOMPARE(Points(), (std::vector<Point>{{100, 100}, {200, 50}, {100, 100}}));

        m_prompts->yesNo = {false};
        Click(204, 54); // declined: the click is stored where it was made
        QCOMPARE(m_prompts->asked.size(), 2);
        QCOMPARE(Points().back(), (Point{204, 54}));
    }

    void aClickFivePixelsAwayAsksNothing()
    {
        Click(100, 100);
        Click(105, 100);
        Click(100, 95);
        QVERIFY(m_prompts->asked.isEmpty());
        QCOMPARE(Points().size(), std::size_t{3});
    }

    void onlyTheEarliestPointInRangeIsOffered()
    {
        Click(50, 50);
        Click(56, 50);
        m_prompts->yesNo = {false};
        Click(53, 50); // near both; the first is offered, No stores the click
        QCOMPARE(m_prompts->asked.size(), 1);
        QCOMPARE(Points(), (std::vector<Point>{{50, 50}, {56, 50}, {53, 50}}));

        m_prompts->yesNo = {true};
        Click(53, 50); // now (53,50) itself is in range too, but (50,50) came first
        QCOMPARE(Points().back(), (Point{50, 50}));
    }

    void aJoinedCopyThatFillsTheBufferSwitchesAtOnce()
    {
        for (int i = 0; i < 255; ++i)
            QVERIFY(m_view->Apply(kav::PointChange::Append({10 + i, 200})));
        m_prompts->yesNo = {true};
        Click(11, 201);
        QVERIFY(!m_view->Store().State().useA);
        QCOMPARE(m_view->Store().State().countB, 256);
        QCOMPARE(Points().back(), (Point{10, 200}));
    }

    void newAsksOnlyWhenThereArePoints()
    {
        m_view->OnPointsNew();
        QVERIFY(m_prompts->asked.isEmpty());

        Click(10, 10);
        Click(20, 20);
        m_prompts->yesNo = {false};
        m_view->OnPointsNew();
        QCOMPARE(m_prompts->asked.size(), 1);
        QCOMPARE(m_prompts->asked[0].text, QStringLiteral("Czy wyczyścić wszystko?"));
        QCOMPARE(m_prompts->asked[0].caption, QStringLiteral("Nowy"));
        QCOMPARE(Points().size(), std::size_t{2});

        m_prompts->yesNo = {true};
        m_view->OnPointsNew();
        QVERIFY(Points().empty());
    }

    void undoTakesBackTheNewestPoint()
    {
        m_view->OnUndoPoint(); // empty: nothing to take back, no question
        Click(10, 10);
        Click(20, 20);
        m_view->OnUndoPoint();
        QCOMPARE(Points(), (std::vector<Point>{{10, 10}}));
        QVERIFY(m_prompts->asked.isEmpty());
    }

    // Redo brings back what Undo took, newest first, until another change.
    void redoTakesBackUndoUntilAnotherChange()
    {
        m_view->OnRedoPoint(); // nothing undone: nothing
        Click(10, 10);
        Click(20, 20);
        Click(30, 30);
        m_view->OnUndoPoint();
        m_view->OnUndoPoint();
        m_view->OnRedoPoint();
        QCOMPARE(Points(), (std::vector<Point>{{10, 10}, {20, 20}}));
        Click(40, 40);
        m_view->OnRedoPoint(); // forgotten with the click
        QCOMPARE(Points(), (std::vector<Point>{{10, 10}, {20, 20}, {40, 40}}));
        m_view->OnUndoPoint();
        m_view->OnRedoPoint();
        QCOMPARE(Points(), (std::vector<Point>{{10, 10}, {20, 20}, {40, 40}}));
        QVERIFY(m_prompts->asked.isEmpty());
    }

    void aRefusedPointIsReportedAndNotStored()
    {
        // A store whose memory runs out at 512 points.
        auto limited = [](Point* points, std::size_t count) -> Point* {
            return count > 512 ? nullptr : kav::ReallocatePoints(points, count);
        };
        CKavView view(*m_prompts, nullptr, limited);
        view.resize(100, 100);
        for (int i = 0; i < 511; ++i)
            QVERIFY(view.Apply(kav::PointChange::Append({i * 10, 0})));
        QTest::mouseClick(&view, Qt::LeftButton, {}, QPoint(50, 50));
        QCOMPARE(m_prompts->Kinds(), QStringList{QStringLiteral("warning")});
        QCOMPARE(m_prompts->asked[0].text, kav::ui::kPointRefusedText);
        QCOMPARE(view.Store().ActivePoints().size(), std::size_t{511});

        m_prompts->yesNo = {true}; // a joined copy is refused the same way
        QTest::mouseClick(&view, Qt::LeftButton, {}, QPoint(1, 1));
        QCOMPARE(m_prompts->Kinds(), (QStringList{"warning", "question", "warning"}));
        QCOMPARE(view.Store().ActivePoints().size(), std::size_t{511});
    }

    void readoutsFollowTheMouseOnly()
    {
        QSignalSpy spy(m_view, &CKavView::ReadoutsChanged);
        for (int i = 0; i < 3; ++i)
            Click(10 * i + 5, 10);
        spy.clear();
        QTest::mouseMove(m_view, QPoint(12, 34));
        QCOMPARE(Readouts(spy), (QStringList{"x=12", "y=34", QStringLiteral(" punktów: 3")}));

        Click(100, 100); // a click alone leaves the readouts as they were
        QVERIFY(spy.isEmpty());
        QTest::mouseMove(m_view, QPoint(13, 34));
        QCOMPARE(Readouts(spy)[2], QStringLiteral(" punktów: 4"));

        // Buffer B drops the leading space; A brings it back.
        for (int i = 4; i < 300; ++i)
            QVERIFY(m_view->Apply(kav::PointChange::Append({i, i})));
        QTest::mouseMove(m_view, QPoint(14, 34));
        QCOMPARE(Readouts(spy)[2], QStringLiteral("punktów: 300"));
        for (int i = 300; i < 512; ++i)
            QVERIFY(m_view->Apply(kav::PointChange::Append({i, i})));
        QTest::mouseMove(m_view, QPoint(15, 34));
        QCOMPARE(Readouts(spy)[2], QStringLiteral(" punktów: 512"));
    }

    void aMouseMoveDoesNotRepaint()
    {
        Click(50, 50);
        QTest::qWait(50);
        PaintCounter counter;
        m_view->installEventFilter(&counter);
        QTest::mouseMove(m_view, QPoint(60, 60));
        QTest::mouseMove(m_view, QPoint(70, 60));
        QCoreApplication::processEvents();
        QCOMPARE(counter.paints, 0);
        Click(80, 80);
        QTRY_VERIFY(counter.paints > 0); // a click repaints
        m_view->removeEventFilter(&counter);
    }

    // Arrows move a cursor from the mouse, or from the middle; past an edge
    // the view moves a quarter of its size and the cursor stays on its
    // figure point. Space adds a point there as a click would.
    void theKeyboardCursorMovesAndClicks_data()
    {
        QTest::addColumn<QPoint>("mouse"); // none when negative
        QTest::addColumn<QList<int>>("keys"); // key | modifiers
        QTest::addColumn<QPoint>("cursor");
        const int shift = Qt::ShiftModifier;
        QTest::newRow("from the middle") << QPoint(-1, -1) << QList<int>{Qt::Key_Right, Qt::Key_Right, Qt::Key_Down}
                                         << QPoint(202, 151);
        QTest::newRow("from the mouse, Shift by ten")
            << QPoint(10, 20) << QList<int>{Qt::Key_Left, shift | Qt::Key_Up} << QPoint(9, 10);
        QTest::newRow("past the top left")
            << QPoint(2, 3) << QList<int>{shift | Qt::Key_Left, shift | Qt::Key_Up} << QPoint(-8, -7);
        QTest::newRow("past the bottom right")
            << QPoint(395, 296) << QList<int>{shift | Qt::Key_Right, shift | Qt::Key_Down} << QPoint(405, 306);
        QTest::newRow("Space alone, at the mouse") << QPoint(30, 40) << QList<int>() << QPoint(30, 40);
    }
    void theKeyboardCursorMovesAndClicks()
    {
        QFETCH(QPoint, mouse);
        QFETCH(QList<int>, keys);
        QFETCH(QPoint, cursor);
        QVERIFY(m_view->focusPolicy() & Qt::TabFocus);
        if (mouse.x() >= 0)
            QTest::mouseMove(m_view, mouse);
        QSignalSpy spy(m_view, &CKavView::ReadoutsChanged);
        for (const int key : keys)
            QTest::keyClick(m_view, Qt::Key(key & ~Qt::KeyboardModifierMask),
                            Qt::KeyboardModifiers(key & Qt::KeyboardModifierMask));
        QTest::keyClick(m_view, Qt::Key_Space);
        QCOMPARE(Points(), (std::vector<Point>{{cursor.x(), cursor.y()}}));
        QTest::keyClick(m_view, Qt::Key_Right);
        QCOMPARE(Readouts(spy),
                 (QStringList{QStringLiteral("x=%1").arg(cursor.x() + 1),
                              QStringLiteral("y=%1").arg(cursor.y()), QStringLiteral(" punktów: 1")}));
    }

    // The view's context menu holds the four zoom entries with their keys;
    // each key changes the scale, around the mouse, and the message pane
    // says so. F fits the figure, which lies partly beyond the view.
    void theZoomKeysChangeTheScale_data()
    {
        QTest::addColumn<QList<QKeySequence>>("keys");
        QTest::addColumn<int>("zoom");
        QTest::addColumn<QString>("notice");
        QTest::newRow("in") << QList<QKeySequence>{QKeySequence::ZoomIn} << 1 << QStringLiteral("Powiększenie: 200%");
        QTest::newRow("out twice") << QList<QKeySequence>{QKeySequence::ZoomOut, QKeySequence::ZoomOut} << -2
                                   << QStringLiteral("Powiększenie: 25%");
        QTest::newRow("no further than 1/1024") << QList<QKeySequence>(12, QKeySequence::ZoomOut) << -10
                                                << QString::fromUtf8("Powiększenie: 0,0976563%");
        QTest::newRow("fit") << QList<QKeySequence>{QKeySequence(Qt::Key_F)} << -2
                             << QStringLiteral("Powiększenie: 25%");
        QTest::newRow("back to 1:1") << QList<QKeySequence>{QKeySequence::ZoomIn, QKeySequence(Qt::CTRL | Qt::Key_0)}
                                     << 0 << QStringLiteral("Powiększenie: 100%");
    }
    void theZoomKeysChangeTheScale()
    {
        QFETCH(QList<QKeySequence>, keys);
        QFETCH(int, zoom);
        QFETCH(QString, notice);
        QLocale::setDefault(QLocale(QLocale::Polish, QLocale::Poland));
        QTest::mouseMove(m_view, {99, 99}); // a move, though the last row left the mouse at (100, 100)
        QTest::mouseMove(m_view, {100, 100});
        Click(100, 100);
        QVERIFY(m_view->Apply(kav::PointChange::Append({900, 700})));
        QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, {10, 10}, m_view->mapToGlobal(QPoint(10, 10)));
        QCoreApplication::sendEvent(m_view, &menuEvent);
        QMenu* menu = m_view->findChild<QMenu*>();
        QVERIFY(menu);
        QStringList entries;
        for (const QAction* action : menu->actions())
            entries << action->text() + u'\t' + action->shortcut().toString();
        QCOMPARE(entries, (QStringList{QStringLiteral("Powiększ\tCtrl++"), QStringLiteral("Pomniejsz\tCtrl+-"),
                                       QStringLiteral("Dopasuj do okna\tF"),
                                       QStringLiteral("Rozmiar rzeczywisty\tCtrl+0")}));
        menu->close();
        QVERIFY(QTest::qWaitForWindowActive(m_view));
        QSignalSpy notices(m_view, &CKavView::Notice);
        QSignalSpy readouts(m_view, &CKavView::ReadoutsChanged);
        for (const QKeySequence& key : keys)
            QTest::keySequence(m_view, key);
        QCOMPARE(m_view->Mapping().zoom, zoom);
        QVERIFY(!notices.isEmpty());
        QCOMPARE(notices.last().at(0).toString(), notice);
        // The point under the mouse stays there at every scale but the fit's.
        if (!keys.contains(QKeySequence(Qt::Key_F)))
            QCOMPARE(Readouts(readouts).mid(0, 2), (QStringList{QStringLiteral("x=100"), QStringLiteral("y=100")}));
    }

    // Return near a point asks to join, as a click there would.
    void returnTakesTheJoinRule()
    {
        Click(100, 100);
        QTest::mouseMove(m_view, QPoint(103, 102));
        QTest::keyClick(m_view, Qt::Key_Right);
        m_prompts->yesNo = {true};
        QTest::keyClick(m_view, Qt::Key_Return);
        QCOMPARE(m_prompts->Kinds(), QStringList{QStringLiteral("question")});
        QCOMPARE(Points(), (std::vector<Point>{{100, 100}, {100, 100}}));
    }

    // The crosshair lies over the figure and leaves with the next mouse move,
    // so that the mouse alone sees the same pixels as ever.
    void theCrosshairShowsOnlyAfterAKey()
    {
        Click(50, 100);
        Click(150, 100);
        QTest::mouseMove(m_view, QPoint(100, 99));
        const QImage before = m_view->grab().toImage();
        QTest::keyClick(m_view, Qt::Key_Down);
        const QImage crossed = m_view->grab().toImage();
        QCOMPARE(Rgb(crossed, 100, 100), kBlack); // the point itself stays clear
        for (const QPoint arm : {QPoint(105, 100), QPoint(100, 105), QPoint(100, 95)})
            QVERIFY(Rgb(crossed, arm.x(), arm.y()) != kBlack && Rgb(crossed, arm.x(), arm.y()) != kWhite);
        QTest::mouseMove(m_view, QPoint(100, 99)); // no move: it stays
        QCOMPARE(m_view->grab().toImage(), crossed);
        QTest::mouseMove(m_view, QPoint(300, 200));
        QCOMPARE(m_view->grab().toImage(), before);
    }

    void aScreenReaderHearsThePointCount()
    {
        QCOMPARE(m_view->accessibleName(), QStringLiteral("Obszar rysowania"));
        QCOMPARE(m_view->accessibleDescription(), QStringLiteral("Liczba punktów: 0"));
        Click(10, 10);
        Click(30, 10);
        QTRY_COMPARE(m_view->accessibleDescription(), QStringLiteral("Liczba punktów: 2"));
        m_view->OnUndoPoint();
        QTRY_COMPARE(m_view->accessibleDescription(), QStringLiteral("Liczba punktów: 1"));
    }

    void drawsTheSegmentsAndTheEndCircle()
    {
        QImage empty = m_view->grab().toImage();
        for (int y = 0; y < empty.height(); y += 7)
            for (int x = 0; x < empty.width(); x += 7)
                QCOMPARE(Rgb(empty, x, y), kWhite);

        Click(50, 100);
        Click(150, 100);
        QImage image = m_view->grab().toImage();
        for (int x = 50; x <= 145; ++x)
            QCOMPARE(Rgb(image, x, 100), kBlack);
        // The circle at (150,100): outline on the box's edges, white inside,
        // the segment's end hidden under it.
        QCOMPARE(Rgb(image, 146, 100), kBlack);
        QCOMPARE(Rgb(image, 153, 100), kBlack);
        QCOMPARE(Rgb(image, 150, 96), kBlack);
        QCOMPARE(Rgb(image, 150, 103), kBlack);
        for (int x = 147; x <= 152; ++x)
            QCOMPARE(Rgb(image, x, 100), kWhite);
        QCOMPARE(Rgb(image, 154, 100), kWhite); // right edge of the box left out
        QCOMPARE(Rgb(image, 50, 99), kWhite); // one pixel wide

        m_view->OnUndoPoint(); // back to one point: only its circle
        image = m_view->grab().toImage();
        QCOMPARE(Rgb(image, 100, 100), kWhite);
        QCOMPARE(Rgb(image, 46, 100), kBlack);
        QCOMPARE(Rgb(image, 50, 100), kWhite);
        QCOMPARE(Rgb(image, 150, 100), kWhite);
    }

    void pointsFarOutsideDrawSafely()
    {
        const std::int32_t lo = std::numeric_limits<std::int32_t>::min();
        const std::int32_t hi = std::numeric_limits<std::int32_t>::max();
        for (const Point p : {Point{lo, lo}, Point{hi, hi}, Point{200, 150}, Point{hi, 150}, Point{lo, hi}})
            QVERIFY(m_view->Apply(kav::PointChange::Append(p)));
        const QImage image = m_view->grab().toImage();
        QCOMPARE(Rgb(image, 300, 150), kBlack); // from (200,150) towards x = +inf
        QCOMPARE(Rgb(image, 399, 150), kBlack);
    }

    // Clicks, joins, undos, clears, loads of far points, zooms, pans and
    // resizes, in a generated order: after each, the picture the view keeps
    // and extends shows exactly what a redraw from nothing at the view's
    // scale shows. Of every 20 actions, `clicks` click, `undos` undo and
    // `zooms` zoom or pan; `hub` sends every other click to (200, 150), so
    // that many lines cross there and Undo takes them back.
    void theKeptPictureEqualsAFullRedraw_data()
    {
        QTest::addColumn<unsigned>("seed");
        QTest::addColumn<unsigned>("clicks");
        QTest::addColumn<unsigned>("undos");
        QTest::addColumn<unsigned>("zooms");
        QTest::addColumn<bool>("hub");
        QTest::addRow("mixed") << 20261207u << 12u << 3u << 0u << false;
        QTest::addRow("undo-heavy") << 1u << 7u << 8u << 0u << false;
        QTest::addRow("lines through one pixel") << 2u << 9u << 6u << 0u << true;
        QTest::addRow("zoomed and panned") << 3u << 9u << 4u << 3u << false;
        QTest::addRow("undo while zoomed") << 4u << 6u << 6u << 4u << true;
    }
    void theKeptPictureEqualsAFullRedraw()
    {
        QFETCH(unsigned, seed);
        QFETCH(unsigned, clicks);
        QFETCH(unsigned, undos);
        QFETCH(unsigned, zooms);
        QFETCH(bool, hub);
        QTemporaryDir dir;
        const QString far = dir.filePath(QStringLiteral("far.txt"));
        QFile file(far);
        // Beyond every edge (4294967000 wraps to -296) and across the view.
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("30 40 3000000000 150 200 4294967000 1000000 1000000 399 0 4294967295 299");
        file.close();

        kav::CFileCommands files(*m_view, m_view->Document(), *m_prompts, m_view->Commands());
        std::mt19937 random(seed);
        for (int step = 0; step < 400; ++step) {
            const unsigned action = random() % 20;
            m_prompts->yesNo = {random() % 2 == 0};
            m_prompts->openPaths = {far};
            if (action < clicks && hub && step % 2 == 0) {
                Click(200, 150);
            } else if (action < clicks) {
                // Often near an earlier click, so that joins happen.
                const std::vector<Point> points = Points();
                const Point near = points.empty() ? Point{50, 50} : points[random() % points.size()];
                const bool close = random() % 3 == 0;
                const kav::ViewMapping& mapping = m_view->Mapping();
                Click(close ? int(mapping.ViewX(near.x)) + int(random() % 9) - 4 : int(random() % 420) - 10,
                      close ? int(mapping.ViewY(near.y)) + int(random() % 9) - 4 : int(random() % 320) - 10);
            } else if (action < clicks + undos) {
                m_view->OnUndoPoint();
            } else if (action < clicks + undos + 1) {
                m_view->OnPointsNew();
            } else if (action < clicks + undos + 3) {
                files.OnPointsOpen();
                QTRY_VERIFY(!m_view->CommandRunning());
                QCoreApplication::processEvents(); // the fit that follows an Open
                do
                    m_view->grab();
                while (!m_view->PictureComplete());
            } else if (action < clicks + undos + 3 + zooms) {
                const QPoint at(int(random() % 400), int(random() % 300));
                switch (random() % 6) {
                case 0: m_view->OnFitToWindow(); break;
                case 1: m_view->OnActualSize(); break;
                case 2: m_view->PanBy(at - QPoint(200, 150)); break;
                default: m_view->ZoomAt(at, int(random() % 5) - 2); break;
                }
                // A slow build may show the provisional picture first.
                do
                    m_view->grab();
                while (!m_view->PictureComplete());
            } else {
                m_view->resize(200 + int(random() % 300), 150 + int(random() % 200));
            }
            const QImage shown = m_view->grab().toImage().convertToFormat(QImage::Format_RGB32);
            QImage redrawn(m_view->size(), QImage::Format_RGB32);
            CKavView::DrawPoints(redrawn, Points(), m_view->Mapping());
            QVERIFY2(shown == redrawn, qPrintable(QStringLiteral("step %1, action %2, zoom %3")
                                                      .arg(step)
                                                      .arg(action)
                                                      .arg(m_view->Mapping().zoom)));
        }
    }

    // A redraw too long for one paint goes on between events, and a click
    // made meanwhile still lands and is drawn.
    void aLongRedrawGoesOnInSlices()
    {
        std::mt19937 random(7);
        // Segments that cross the whole view, a few hundred pixels each.
        for (int i = 0; i < 1000000; ++i)
            QVERIFY(m_view->Apply(kav::PointChange::Append({int(random() % 1200) - 400, int(random() % 900) - 300})));
        m_view->grab();
        QVERIFY(!m_view->PictureComplete()); // one paint drew only a part
        Click(100, 100);
        QCOMPARE(Points().back(), (Point{100, 100}));
        QTRY_VERIFY_WITH_TIMEOUT(m_view->PictureComplete(), 60000);
        const QImage shown = m_view->grab().toImage().convertToFormat(QImage::Format_RGB32);
        QImage redrawn(m_view->size(), QImage::Format_RGB32);
        CKavView::DrawPoints(redrawn, m_view->Store().ActivePoints());
        QVERIFY(shown == redrawn);

        // Zoomed in, the last picture shows at twice the size around the
        // mouse until the new one is drawn, which is then exact.
        m_view->ZoomAt({200, 150}, 1);
        const QImage provisional = m_view->grab().toImage().convertToFormat(QImage::Format_RGB32);
        QVERIFY(!m_view->PictureComplete());
        for (int y = 0; y < 300; y += 14)
            for (int x = 0; x < 400; x += 22)
                QVERIFY2(provisional.pixel(x, y) == shown.pixel(100 + x / 2, 75 + y / 2),
                         qPrintable(QStringLiteral("at %1, %2").arg(x).arg(y)));
        QTRY_VERIFY_WITH_TIMEOUT(m_view->PictureComplete(), 60000);
        CKavView::DrawPoints(redrawn, m_view->Store().ActivePoints(), m_view->Mapping());
        QVERIFY(m_view->grab().toImage().convertToFormat(QImage::Format_RGB32) == redrawn);
    }

    // A loaded figure is indexed while the user looks at it, even while
    // its redraw goes on in slices.
    void aLoadedFigureIsIndexedMeanwhile()
    {
        std::mt19937 random(11);
        kav::PointStore loaded;
        for (int i = 0; i < 2000000; ++i)
            QVERIFY(loaded.AppendPoint({int(random() % 1200) - 400, int(random() % 900) - 300}));
        Click(5, 5);
        QVERIFY(m_view->Apply(kav::PointChange::ReplaceAll(loaded)));
        QCOMPARE(Points().size(), std::size_t{2000000});
        m_view->grab();
        QVERIFY(!m_view->PictureComplete());
        QTRY_VERIFY_WITH_TIMEOUT(m_view->PictureComplete(), 60000);
        QTRY_VERIFY_WITH_TIMEOUT(m_view->JoinIndexComplete(), 10000);
        // The old figure's buffer went with the loaded store's.
        QVERIFY(!loaded.HasPoints());
        QVERIFY(!loaded.State().bufferA && !loaded.State().bufferB);
    }

    // A figure of 20000 x 15000 units is fitted at 1/64, whether it came in
    // one Open that the index worker bounds or in Opens too small for the
    // worker, which are never bounded; F fits it again from 1:1.
    void aLargeFigureIsFittedFromItsBounds_data()
    {
        QTest::addColumn<int>("opens");
        QTest::addColumn<int>("perOpen");
        QTest::newRow("one large open") << 1 << 600000;
        QTest::newRow("small opens") << 4 << 200000;
    }
    void aLargeFigureIsFittedFromItsBounds()
    {
        QFETCH(int, opens);
        QFETCH(int, perOpen);
        std::mt19937 random(5);
        for (int open = 0; open < opens; ++open) {
            kav::PointStore loaded;
            for (int i = 0; i < perOpen; ++i)
                QVERIFY(loaded.AppendPoint({int(random() % 20000), int(random() % 15000)}));
            QVERIFY(m_view->Apply(kav::PointChange::AppendAll(loaded)));
            QTRY_VERIFY_WITH_TIMEOUT(m_view->JoinIndexComplete(), 20000);
        }
        const auto inView = [this] {
            const kav::ViewMapping& m = m_view->Mapping();
            const std::vector<Point> points = Points();
            return std::all_of(points.begin(), points.end(), [&](Point p) {
                return m.ViewX(p.x) >= 0 && m.ViewX(p.x) < 400 && m.ViewY(p.y) >= 0 && m.ViewY(p.y) < 300;
            });
        };
        QTRY_COMPARE(m_view->Mapping().zoom, -6);
        QVERIFY(inView());
        QTest::keySequence(m_view, QKeySequence(Qt::CTRL | Qt::Key_0));
        QCOMPARE(m_view->Mapping().zoom, 0);
        QTest::keyClick(m_view, Qt::Key_F);
        QTRY_COMPARE(m_view->Mapping().zoom, -6);
        QVERIFY(inView());
    }

    // Run with QT_SCALE_FACTOR=2: the figure is drawn at the screen's own
    // density, one device pixel wide, not in 2x2 blocks.
    void aDenseScreenGetsSharpLines()
    {
        if (m_view->devicePixelRatioF() != 2)
            QSKIP("for a device pixel ratio of 2 (QT_SCALE_FACTOR=2)");
        Click(50, 50);
        Click(150, 50);
        const QImage image = m_view->grab().toImage().convertToFormat(QImage::Format_RGB32);
        QCOMPARE(image.size(), QSize(800, 600));
        for (int x = 100; x < 290; ++x) {
            QCOMPARE(Rgb(image, x, 100), kBlack);
            QCOMPARE(Rgb(image, x, 101), kWhite); // one device pixel, not two
        }
        // The marker: a 16-pixel circle with a one-pixel outline.
        QCOMPARE(Rgb(image, 292, 100), kBlack);
        QCOMPARE(Rgb(image, 293, 100), kWhite);
        QCOMPARE(Rgb(image, 307, 100), kBlack);
        QCOMPARE(Rgb(image, 308, 100), kWhite);
    }
};

QTEST_MAIN(TestKavView)
#include "tst_kav_view.moc"
