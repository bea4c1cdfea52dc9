#pragma once

#include "view/command_gate.h"
#include "view/figure_picture.h"
#include "view/join_index.h"
#include "view/point_document.h"
#include "view/view_mapping.h"

#include <QImage>
#include <QTimer>
#include <QWidget>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

class QPainter;

namespace kav {

class CUserPrompts;

// The drawing area: it owns the points, takes clicks, draws the polyline and
// reports the cursor and the point count.
class Underlay;

class CKavView : public QWidget {
    Q_OBJECT

public:
    explicit CKavView(CUserPrompts& prompts, QWidget* parent = nullptr,
                      PointReallocator reallocate = &ReallocatePoints);

    // Ends every reader's lease before the points go.
    ~CKavView() override;

    // The figure. The app wires its journal into it.
    PointDocument& Document() { return m_document; }
    const PointStore& Store() const { return m_document.Store(); }
    // The document's one change path, for the view's own commands and the
    // app's. False when the store refused it; nothing changed then.
    bool Apply(const PointChange& change) { return m_document.Apply(change); }

    // The commands under way: while one holds a scope, every other
    // command, click and key that would change the points is refused with
    // a beep, as is one that begins before the last change is safe from a
    // kill.
    using CommandScope = CommandGate::Scope;
    CommandGate& Commands() { return m_commands; }
    // The scope of a new command; empty, after a beep, when it may not begin.
    CommandScope BeginCommand() { return m_commands.Begin(); }
    // A scope whatever runs: the app's own work on the figure, such as
    // reading a journal at start-up.
    CommandScope HoldCommands() { return m_commands.Hold(); }
    bool CommandRunning() const { return m_commands.Running(); }

    // Renders the active points into `image` from scratch, which is first
    // cleared to the background. Every paint shows exactly this picture.
    static void DrawPoints(QImage& image, std::span<const Point> points, const ViewMapping& mapping = {});

    // Whether the kept picture shows every point, and whether the join
    // search has indexed every point; both catch up while the user waits.
    bool PictureComplete() const { return m_picture.Shows(m_document.Points().size()); }
    bool JoinIndexComplete() const { return m_joinIndex.Complete(m_document.Points()); }

    // Handlers, bound in the frame's dispatch table and in the events below.
    void OnLButtonDown(QPoint at);
    void OnMouseMove(QPoint at);
    void OnPointsNew();
    void OnUndoPoint();
    void OnRedoPoint();
    void OnShowCoords();
    void OnZoomIn();
    void OnZoomOut();
    void OnFitToWindow();
    void OnActualSize();

    // Where the view looks at the figure; 1:1 from (0, 0) at every start.
    const ViewMapping& Mapping() const { return m_mapping; }
    // The figure point that view pixel `at` shows; nothing beyond what a
    // point can hold.
    std::optional<Point> FigureAt(QPoint at) const;
    // Zooms by 2^steps, within the scale's limits, keeping the figure point
    // under view pixel `at` where it is.
    void ZoomAt(QPoint at, int steps);
    // Moves the figure by `pixels`, as a hand would.
    void PanBy(QPoint pixels);
    // The zoom actions, for the window's menu and keys: in, out, fit, 1:1.
    QList<QAction*> ZoomActions() const;
    // More entries for the context menu, after the zoom's.
    void AddContextActions(const QList<QAction*>& actions) { m_contextActions.append(actions); }

    // The image under the figure; none removes it. A new one is shown.
    void SetUnderlay(std::shared_ptr<const Underlay> underlay);
    const Underlay* CurrentUnderlay() const { return m_underlay.get(); }
    void OnShowUnderlay(bool shown);
    bool UnderlayShown() const { return m_underlay && m_underlayShown; }
    // The view's picture as it shows now, exact, at the screen's density,
    // drawn anew from `points` wherever it is called: a thread that reads
    // the points may call it. Nothing when `cancelled` was raised first.
    using ShownRenderer = std::function<std::optional<QImage>(std::span<const Point>, const std::atomic<bool>*)>;
    ShownRenderer Shown() const;
    QImage ShownImage() const { return *Shown()(m_document.Points(), nullptr); }

Q_SIGNALS:
    // The three readouts: "x=…", "y=…" and the point count.
    void ReadoutsChanged(const QString& x, const QString& y, const QString& count);
    // The last command scope has gone.
    void CommandsEnded();
    // A notice for the status bar's message pane, shown for a few seconds.
    void Notice(const QString& text);
    // An underlay came or went, or was shown or hidden.
    void UnderlayChanged();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    // The join rule: offers the earliest stored point near (x, y) and, on
    // Yes, appends a copy of it. True when it appended.
    bool FindNearPoint(int x, int y);
    // Appends, and tells the user when the store has no room.
    bool Append(Point p);
    // Hands the indexing of many points to the worker; true while it runs.
    bool IndexOnWorker();

    // Between events: goes on with a long redraw, then with the index.
    void OnIdle();
    void WakeIdle();
    // The keyboard cursor: shown and moved by `by`, within the view; at an
    // edge the view moves a quarter of its size that way.
    void MoveKeyCursor(QPoint by);
    void SetMapping(const ViewMapping& mapping);
    QImage MovedPicture(double scale) const;
    // The kept picture's pixels, not copied.
    QImage PictureImage();
    // The picture, or the provisional one, over the underlay when it shows.
    // `dirty` is the part of the view being painted.
    void PaintFigure(QPainter& painter, const QImage& picture, double scale, const FigurePicture::Marker* marker,
                     const QRect& dirty);
    void TellZoom(const QString& text);
    // After an Open or a recovery: fits a figure that does not lie wholly
    // in view, zooming out only.
    void FitIfOutside();
    // Fits, as F or FitIfOutside asks, once the figure's bounds are known:
    // at once for a small figure, else when the index worker has bounded
    // every block, so that the UI thread never reads a large figure whole.
    enum class Fitting { None, IfOutside, Always };
    void FitWhenBounded(Fitting fitting);

    PointDocument m_document; // goes last: the others observe it
    CUserPrompts& m_prompts;
    FigurePicture m_picture;
    bool m_drawing = false; // a redraw goes on in slices
    JoinIndex m_joinIndex;
    JoinIndexWorker m_indexWorker; // goes before the index
    ChangeFunction m_describe; // the accessible description
    ChangeFunction m_repaint;
    QTimer m_idle;
    CommandGate m_commands;
    // Where the mouse last was, and the keyboard cursor while it shows.
    std::optional<QPoint> m_mouseAt;
    std::optional<QPoint> m_keyCursor;
    ViewMapping m_mapping;
    // The last complete picture and the mapping it was drawn at: shown moved
    // and scaled while the picture at a new mapping is drawn in slices.
    QImage m_provisional;
    ViewMapping m_provisionalMapping;
    QImage m_moved; // m_provisional as m_movedMapping shows it
    ViewMapping m_movedMapping;
    Fitting m_fitting = Fitting::None; // a fit that waits for the bounds
    QPoint m_panRest; // pixels of a pan zoomed in, short of a whole unit
    std::optional<QPoint> m_handAt; // where the middle button drags from
    QAction* m_zoomIn;
    QAction* m_zoomOut;
    QAction* m_fit;
    QAction* m_actualSize;
    QList<QAction*> m_contextActions;
    std::shared_ptr<const Underlay> m_underlay;
    bool m_underlayShown = true;
    // The underlay drawn at m_layerMapping, and the picture over it.
    QImage m_underlayLayer;
    std::shared_ptr<const Underlay> m_layerOf;
    ViewMapping m_layerMapping;
    QImage m_composite;
};

} // namespace kav
