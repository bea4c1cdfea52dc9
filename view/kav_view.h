#pragma once

#include "view/figure_picture.h"
#include "view/join_index.h"
#include "view/point_document.h"

#include <QImage>
#include <QTimer>
#include <QWidget>

#include <memory>
#include <optional>
#include <utility>

namespace kav {

class CUserPrompts;

// The drawing area: it owns the points, takes clicks, draws the polyline and
// reports the cursor and the point count.
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

    // Held for a command's whole life, across its returns to the event loop:
    // while one is held, every other command, click and key that would
    // change the points is refused with a beep.
    class CommandScope {
    public:
        CommandScope() = default;
        CommandScope(CommandScope&& other) noexcept
            : m_view(std::exchange(other.m_view, nullptr))
        {
        }
        CommandScope& operator=(CommandScope&& other) noexcept;
        ~CommandScope() { Release(); }
        explicit operator bool() const { return m_view != nullptr; }
        void Release();

    private:
        friend class CKavView;
        explicit CommandScope(CKavView* view);
        CKavView* m_view = nullptr;
    };
    // The scope of a new command; empty, after a beep, while another runs
    // or while the last change is not yet safe from a kill.
    CommandScope BeginCommand();
    // A scope whatever runs: the app's own work on the figure, such as
    // reading a journal at start-up.
    CommandScope HoldCommands() { return CommandScope(this); }
    bool CommandRunning() const { return m_commands > 0; }
    // The last change may have become safe (the journal wrote it): an Open
    // that waits may start.
    void Recheck();

    // Renders the active points into `image` from scratch, which is first
    // cleared to the background. Every paint shows exactly this picture.
    static void DrawPoints(QImage& image, std::span<const Point> points);

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
    void OnPointsSave();
    void OnPointsOpen();
    void OnShowCoords();
    // The Open command for a file already chosen: a drop, or --open. The
    // name is the file system's bytes. It waits while another command runs.
    void OpenFile(const QByteArray& path);
    // The files that wait for the command that runs.
    qsizetype WaitingOpens() const { return m_waitingOpens.size(); }

Q_SIGNALS:
    // The three readouts: "x=…", "y=…" and the point count.
    void ReadoutsChanged(const QString& x, const QString& y, const QString& count);
    // The last command scope has gone.
    void CommandsEnded();

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    // The join rule: offers the earliest stored point near (x, y) and, on
    // Yes, appends a copy of it. True when it appended.
    bool FindNearPoint(int x, int y);
    // The Open command for a file already chosen: asks, and starts the
    // load, which ends in OnLoadEnded.
    void OpenPoints(const QByteArray& path, CommandScope scope);
    void OnLoadEnded();
    void OnSaveEnded();
    // Starts the first Open that waits, once nothing runs.
    void OpenWaiting();
    // Appends, and tells the user when the store has no room.
    bool Append(Point p);
    // Hands the indexing of many points to the worker; true while it runs.
    bool IndexOnWorker();

    // Between events: goes on with a long redraw, then with the index.
    void OnIdle();
    void WakeIdle();
    // The keyboard cursor: shown and moved by `by`, within the view.
    void MoveKeyCursor(QPoint by);

    PointDocument m_document; // goes last: the others observe it
    CUserPrompts& m_prompts;
    FigurePicture m_picture;
    bool m_drawing = false; // a redraw goes on in slices
    JoinIndex m_joinIndex;
    JoinIndexWorker m_indexWorker; // goes before the index
    ChangeFunction m_describe; // the accessible description
    ChangeFunction m_repaint;
    QTimer m_idle;
    int m_commands = 0; // command scopes held
    QList<QByteArray> m_waitingOpens;
    // The file command under way, with its scope; at most one.
    struct RunningLoad;
    struct RunningSave;
    // Defined with the commands, where the two are complete.
    struct RunningDeleter {
        void operator()(RunningLoad* load) const;
        void operator()(RunningSave* save) const;
    };
    std::unique_ptr<RunningLoad, RunningDeleter> m_load;
    std::unique_ptr<RunningSave, RunningDeleter> m_save;
    // Where the mouse last was, and the keyboard cursor while it shows.
    std::optional<QPoint> m_mouseAt;
    std::optional<QPoint> m_keyCursor;
};

} // namespace kav
