#pragma once

#include "view/point_store.h"

#include <QImage>
#include <QWidget>

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
    PointStore& Store() { return m_store; }

    // Renders the active points into `image`, which is first cleared to the
    // background. The paint event draws this picture.
    static void DrawPoints(QImage& image, std::span<const Point> points);

    // Handlers, bound in the frame's dispatch table and in the events below.
    void OnLButtonDown(QPoint at);
    void OnMouseMove(QPoint at);
    void OnPointsNew();
    void OnUndoPoint();
    void OnPointsSave();
    void OnPointsOpen();
    void OnShowCoords();

Q_SIGNALS:
    // The three readouts: "x=…", "y=…" and the point count.
    void ReadoutsChanged(const QString& x, const QString& y, const QString& count);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    // The join rule: offers the earliest stored point near (x, y) and, on
    // Yes, appends a copy of it. True when it appended.
    bool FindNearPoint(int x, int y);
    // Appends, and tells the user when the store has no room.
    bool Append(Point p);

    PointStore m_store;
    CUserPrompts& m_prompts;
    QImage m_canvas; // reused between paints
};

} // namespace kav
