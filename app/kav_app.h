#pragma once

#include "app/kav_doc.h"

#include <QByteArrayList>
#include <QObject>
#include <QStringList>

#include <memory>
#include <string>

class QCoreApplication;
class QIcon;

namespace kav {

class CMainFrame;
class CRecovery;
class CTerminationSignals;
class CUserPrompts;
class PointJournal;
class PointStore;

// The program's icon, at every size the package installs.
QIcon AppIcon();

// Start-up: takes the command line, makes the document and the one main
// window, and starts the journal and the offer to recover.
class CKavApp : public QObject {
    Q_OBJECT

public:
    explicit CKavApp(CUserPrompts& prompts, QObject* parent = nullptr);
    ~CKavApp() override;

    // Names the application for its settings and loads Qt's Polish texts
    // when they are installed.
    static void SetUpApplication(QCoreApplication& app);

    // Takes the command line as the system gave it. True when the main
    // window is up and the event loop should run; false when the program
    // should end with ExitCode().
    bool InitInstance(const QByteArrayList& arguments);
    int ExitCode() const { return m_exitCode; }

    CMainFrame* MainFrame() const { return m_frame.get(); }
    // Where the recovery journals live: $XDG_STATE_HOME/kav, or
    // ~/.local/state/kav.
    static QString JournalFolder();
    // This instance's journal; nullptr when recovery is not available.
    PointJournal* Journal() const;

    // The main window closes as the user asked: nothing is kept to recover,
    // unless the desktop's session is ending.
    void OnMainFrameClose();
    const CKavDoc& Document() const { return m_doc; }

    void OnAppAbout();
    // The desktop's session is ending: the journal is kept, unless the user
    // goes on working, which shows that the logout was cancelled.
    void OnCommitData();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void StartJournal();
    // Offers the figure of the newest journal that an instance no longer
    // running left behind.
    void OfferRecovery();
    void KeepJournal();
    void ShowRecoveryUnavailable(const FileResult& failure);

    CUserPrompts& m_prompts;
    CKavDoc m_doc;
    // Declared before the frame, whose view records into it until it goes.
    std::unique_ptr<PointJournal> m_journal;
    std::unique_ptr<CTerminationSignals> m_signals;
    bool m_sessionEnding = false;
    std::unique_ptr<CMainFrame> m_frame;
    std::unique_ptr<CRecovery> m_recovery;
    int m_exitCode = 0;
};

} // namespace kav
