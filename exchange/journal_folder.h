#pragma once

// The journal folder: every file name in it is made here, and the locks
// that tell a running instance's journal from a dead one's.
//
// Each running instance keeps `<id>.journal` and holds an exclusive lock on
// `<id>.lock` for its whole life, so that a journal whose lock can be taken
// belongs to an instance that no longer runs. A rewrite is made as
// `<id>.journal.tmp` and renamed over the journal; a journal that cannot be
// read is moved aside as `damaged-<time>-<id>`.

#include "exchange/file_result.h"

#include <ctime>
#include <string>
#include <vector>

namespace kav::journal {

// A new instance's id: 16 hex digits.
std::string NewId();
bool IsId(const std::string& text);

std::string JournalName(const std::string& folder, const std::string& id);
std::string TemporaryName(const std::string& folder, const std::string& id);
// The rewrite beside the journal at `journalPath`.
std::string TemporaryOf(const std::string& journalPath);
std::string LockName(const std::string& folder, const std::string& id);

// This instance's lock, taken before the lock file has its name so that no
// one ever sees it unlocked, and on disk with the folder's entry. The
// descriptor is returned in `fd`.
FileResult TakeOwnLock(const std::string& folder, const std::string& id, int& fd);

} // namespace kav::journal

namespace kav {

// A dead instance's journal, found in the folder. It holds that instance's
// lock while it lives, so that no other start takes it at the same time.
class FoundJournal {
public:
    FoundJournal(std::string folder, std::string id, int lockFd);
    FoundJournal(FoundJournal&& other) noexcept;
    FoundJournal& operator=(FoundJournal&&) = delete;
    ~FoundJournal();

    const std::string& Folder() const { return m_folder; }
    const std::string& Id() const { return m_id; }
    std::string JournalPath() const;
    // When the journal was last written; 0 when there is none.
    std::time_t Modified() const;

    // Nie: the journal is gone for good.
    void Remove();
    // Cannot be read at all: moved aside as `damaged-<time>-<id>` in the
    // same folder, never to be offered again.
    void MoveAside();
    // Adopted: the lock goes, its file too; the journal is someone else's now.
    void ReleaseLock(bool unlink);

private:
    std::string m_folder;
    std::string m_id;
    int m_lockFd;
};

// The journals of instances that no longer run, newest first. The journal
// of `ownId` is passed over, and so is every journal whose lock is held.
std::vector<FoundJournal> FindDeadJournals(const std::string& folder, const std::string& ownId);

} // namespace kav
