#pragma once

#include "exchange/file_result.h"
#include "view/figure_picture.h"
#include "view/join_index.h"
#include "view/point_change.h"
#include "view/point_store.h"

#include <QImage>
#include <QTimer>
#include <QWidget>

#include <optional>

namespace kav {

class CUserPrompts;
class PointJournal;

// The drawing area: it owns the points, takes clicks, draws the polyline and
// reports the cursor and the point count.
class CKavView : public QWidget {
    Q_OBJECT

public:
    explicit CKavView(CUserPrompts& prompts, QWidget* parent = nullptr,
                      PointReallocator reallocate = &ReallocatePoints);

    // Waits for the journal's thread while it reads the points.
    ~CKavView() override;

    const PointStore& Store() const { return m_store; }
    // Every change of the points, the view's own commands' included, comes
    // through here, so that the picture, the join index and the journal all
    // learn of it. False when the store refused it; nothing changed then.
    bool Apply(const PointChange& change);
    // Records every change from now on; nullptr records none.
    void SetJournal(PointJournal* journal);
    // While true, every command is refused as while one of its own runs:
    // for the app's work on the figure, such as reading a journal.
    void SetBusy(bool busy) { m_busy = busy; }

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
    // The Open command for a file already chosen: a drop, or --open. The
    // name is the file system's bytes. It waits while another command runs.
    void OpenFile(const QByteArray& path);

Q_SIGNALS:
    // The three readouts: "x=…", "y=…" and the point count.
    void ReadoutsChanged(const QString& x, const QString& y, const QString& count);
    // The journal stopped recording, for the first time.
    void JournalFailed(const FileResult& failure);

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
    // The Open command for a file already chosen.
    void OpenPoints(const QByteArray& path);
    // Appends, and tells the user when the store has no room.
    bool Append(Point p);
    // The points from `first` on are about to change other than by new
    // points at the end: the picture starts over and the index forgets them.
    void PointsWillChange(std::size_t first);
    // Waits while the journal's thread reads points that `change` would
    // write over, move or free, and stops the indexing thread for any
    // change but an append in place, which writes past what it reads.
    void KeepPinnedPoints(const PointChange& change);
    bool AppendsInPlace(const PointChange& change) const;
    // Hands the indexing of many points to the worker; true while it runs.
    bool IndexAside();
    // False, and a beep, while a command runs: none starts inside another,
    // not even from the events that a load or a question lets through.
    bool MayStartCommand() const;
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
    JoinIndexWorker m_indexWorker; // goes before the index and the store
    QTimer m_idle;
    PointJournal* m_journal = nullptr;
    bool m_journalFailed = false;
    bool m_busy = false; // a command runs
    // Where the mouse last was, and the keyboard cursor while it shows.
    std::optional<QPoint> m_mouseAt;
    std::optional<QPoint> m_keyCursor;
};

} // namespace kav
