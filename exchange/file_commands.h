#pragma once

#include "exchange/point_saver.h"
#include "view/command_gate.h"
#include "view/point_store.h"

#include <QImage>
#include <QList>
#include <QObject>

#include <functional>
#include <memory>
#include <span>

class QWidget;

namespace kav {

class CUserPrompts;
class PointDocument;
class Underlay;

// The commands that move points between the figure and files: Save, Open,
// and files dropped on the view or named on the command line. A save and a
// load run on a thread; the command returns to the event loop and ends when
// the job's Finished() comes, holding its scope until then.
class CFileCommands : public QObject {
    Q_OBJECT

public:
    // Works on `document` for `view`, the parent of its questions, which
    // takes the drops; `gate` is the view's.
    CFileCommands(QWidget& view, PointDocument& document, CUserPrompts& prompts, CommandGate& gate);
    // Waits for a save that the user asked for: closing the window does not
    // cancel it, and a stalled pipe still ends at the stall limit.
    ~CFileCommands() override;

    void OnPointsSave();
    void OnPointsOpen();
    // The figure as SVG, DXF or PNG; a PNG is what the renderer that
    // `shown` gives draws, on the export's thread.
    void OnExport();
    void SetShownPicture(std::function<PictureRenderer()> shown) { m_shownPicture = std::move(shown); }
    // An image to trace, read on a thread; UnderlayLoaded brings it.
    void OnLoadUnderlay();
    void LoadUnderlay(const QString& path);
    // The Open command for a file already chosen: a drop, or --open. The
    // name is the file system's bytes. It waits while another command runs.
    void OpenFile(const QByteArray& path);
    // The files that wait for the command that runs.
    qsizetype WaitingOpens() const { return m_waitingOpens.size(); }
    // The last change may have become safe (the journal wrote it): an Open
    // that waits may start.
    void Recheck() { OpenWaiting(); }

Q_SIGNALS:
    void UnderlayLoaded(std::shared_ptr<const kav::Underlay> underlay);

protected:
    // The view's drags and drops, and its window closing.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Asks, and starts the load, which ends in OnLoadEnded.
    void OpenPoints(const QByteArray& path, CommandGate::Scope scope);
    void OnLoadEnded();
    CommandGate::Scope BeginWrite();
    // Starts writing `text` of the points to `path`; it ends in OnSaveEnded.
    void StartSave(CommandGate::Scope scope, const QString& path, PointSaver::Text text);
    void OnSaveEnded();
    void OnUnderlayEnded();
    // Starts the first Open that waits, once nothing runs.
    void OpenWaiting();

    QWidget& m_view;
    PointDocument& m_document;
    CUserPrompts& m_prompts;
    CommandGate& m_gate;
    QList<QByteArray> m_waitingOpens;
    // The file command under way, with its scope; at most one.
    struct RunningLoad;
    struct RunningSave;
    struct RunningUnderlay;
    std::unique_ptr<RunningLoad> m_load;
    std::unique_ptr<RunningSave> m_save;
    std::unique_ptr<RunningUnderlay> m_underlay;
    std::function<PictureRenderer()> m_shownPicture;
};

} // namespace kav
