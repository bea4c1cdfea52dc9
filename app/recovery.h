#pragma once

#include "exchange/journal_folder.h"
#include "exchange/journal_reader.h"
#include "view/kav_view.h"

#include <QObject>

#include <memory>
#include <string>
#include <vector>

namespace kav {

class CMainFrame;
class CUserPrompts;
class JournalReader;
class PointJournal;

// After a fault: offers the figure of the newest journal that an instance
// no longer running left behind. Each journal is read on a thread while
// the window answers, with the progress and Anuluj shown after a moment;
// the view takes no command until the offer has been answered.
class CRecovery : public QObject {
    Q_OBJECT

public:
    CRecovery(CUserPrompts& prompts, CMainFrame& frame, PointJournal& journal, std::string folder);
    ~CRecovery() override;

    // Looks for dead journals and reads the newest.
    void Start();
    bool Running() const { return static_cast<bool>(m_scope); }

Q_SIGNALS:
    void Ended();

private:
    void ReadNext();
    void OnRead();
    void Offer(FoundJournal& found, const JournalRead& read);
    void End();

    CUserPrompts& m_prompts;
    CMainFrame& m_frame;
    PointJournal& m_journal;
    std::string m_folder;
    std::vector<FoundJournal> m_found; // newest first
    std::size_t m_next = 0;
    std::unique_ptr<PointStore> m_points;
    std::unique_ptr<JournalReader> m_reader;
    CKavView::CommandScope m_scope;
};

} // namespace kav
