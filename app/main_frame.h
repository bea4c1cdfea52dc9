#pragma once

#include <QMainWindow>

#include <memory>

class QLabel;
class QStatusBar;

namespace kav {

class CKavApp;
class CFileCommands;
class CKavView;
class CUserPrompts;

// The main window: the menu, the view and the status bar with its three
// readout panes.
class CMainFrame : public QMainWindow {
    Q_OBJECT

public:
    CMainFrame(CKavApp& app, CUserPrompts& prompts, QWidget* parent = nullptr);
    ~CMainFrame() override;

    CKavView* View() const { return m_view; }
    // Save, Open and the files dropped on the view.
    CFileCommands* FileCommands() const { return m_files.get(); }
    // The readout pane with the given indicator id (61204 to 61206).
    QLabel* Pane(int indicatorId) const;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateActions();
    void CreateMenus();
    void CreateStatusBar();
    void DispatchTable();
    void OnReadoutsChanged(const QString& x, const QString& y, const QString& count);
    void OnUnderlayChanged();

    CKavApp& m_app;
    CKavView* m_view;
    // Goes before the view, whose points its jobs read.
    std::unique_ptr<CFileCommands> m_files;
    QLabel* m_paneX = nullptr;
    QLabel* m_paneY = nullptr;
    QLabel* m_paneCount = nullptr;

    QAction* m_actNew = nullptr;
    QAction* m_actOpen = nullptr;
    QAction* m_actSave = nullptr;
    QAction* m_actExit = nullptr;
    QAction* m_actShowCoords = nullptr;
    QAction* m_actUndo = nullptr;
    QAction* m_actRedo = nullptr;
    QAction* m_actAbout = nullptr;
    QAction* m_actLoadUnderlay = nullptr;
    QAction* m_actShowUnderlay = nullptr;
    QAction* m_actRemoveUnderlay = nullptr;
    QAction* m_actExport = nullptr;
};

} // namespace kav
