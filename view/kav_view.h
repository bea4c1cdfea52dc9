#pragma once

#include "view/figure_picture.h"
#include "view/join_index.h"
#include "view/point_store.h"

#include <QImage>
#include <QTimer>
#include <QWidget>

#include <optional>

namespace kav {

class CUserPrompts;

// The drawing area: it owns the points, takes clicks, draws the polyline and
// reports the cursor and the point count.
class CKavView : public QWidget {
    Q_OBJECT

public:
    explicit CKavView(CUserPrompts& prompts, QWidget* parent = nullptr,
                      PointReallocator reallocate = &ReallocatePoints);

    const PointStore& Store() const { return m_store; }
    // For setting the points up from outside: the view cannot tell what the
    // caller will change, so it draws and indexes them all anew.
    PointStore& Store();

    // Renders the active points into `image` from scratch, which is first
    // cleared to the background. Every paint shows exactly this picture.
    static void DrawPoints(QImage& image, std::span<const Point> points);

    // Whether the kept picture shows every point, and whether the join
    // search has indexed every point; both catch up while the user waits.
    bool PictureComplete() const { return m_picture.Shows(m_store.ActivePoints().size()); }
    bool JoinIndexComplete() const { return m_joinIndex.Complete(m_store.ActivePoints()); }

    // Handlers, bound in the frame's dispatch table and in the events below.
    void OnLButtonDown(QPoint at);
    void OnMouseMove(QPoint at);
    void OnPointsNew();
    void OnUndoPoint();
    void OnPointsSave();
    void OnPointsOpen();
    void OnShowCoords();
    // The Open command for a file already chosen: a drop, or --open.
    void OpenPoints(const QString& path);

Q_SIGNALS:
    // The three readouts: "x=…", "y=…" and the point count.
    void ReadoutsChanged(const QString& x, const QString& y, const QString& count);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    // The join rule: offers the earliest stored point near (x, y) and, on
    // Yes, appends a copy of it. True when it appended.
    bool FindNearPoint(int x, int y);
    // Appends, and tells the user when the store has no room.
    bool Append(Point p);
    // The points from `first` on are about to change other than by new
    // points at the end: the picture starts over and the index forgets them.
    void PointsWillChange(std::size_t first);
    // Between events: goes on with a long redraw, then with the index.
    void OnIdle();
    void WakeIdle();
    // The keyboard cursor: shown and moved by `by`, within the view.
    void MoveKeyCursor(QPoint by);

    PointStore m_store;
    CUserPrompts& m_prompts;
    FigurePicture m_picture;
    bool m_drawing = false; // a redraw goes on in slices
    JoinIndex m_joinIndex;
    QTimer m_idle;
    // Where the mouse last was, and the keyboard cursor while it shows.
    std::optional<QPoint> m_mouseAt;
    std::optional<QPoint> m_keyCursor;
    std::size_t m_describedCount = 0; // the count in the accessible description
};

} // namespace kav
