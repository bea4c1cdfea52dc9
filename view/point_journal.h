#pragma once

// The recovery journal: what a fault of the program (a crash, kill -9, the X
// server going away, a power cut) would otherwise cost, kept on disk.
//
// Each running instance keeps `<id>.journal` in the journal folder and holds
// an exclusive lock on `<id>.lock` for its whole life, so that a journal
// whose lock can be taken belongs to an instance that no longer runs.
//
// A journal file is a header, a snapshot of the figure and a log of small
// changes after it, all little-endian:
//
//   header (64 bytes): "KAVJRNL\n", version 1, the byte-order mark
//     0x01020304, the instance's start (ms since 1970), the snapshot's point
//     count, its checksum, the pid, and the header's own checksum;
//   snapshot: the points, 8 bytes each (x, y as int32);
//   records (16 bytes each): kind, 3 zero bytes, x, y, and a checksum that
//     chains from the record before it (the first from the header's).
//
// A record is written with one write() before the next event, so it survives
// the death of the process; a thread fdatasyncs it within a second. A big
// change (an Open) or a log grown past the snapshot is written as a new file
// from that thread, fsynced and renamed over the old one: a fault leaves
// either the figure before the change or the one after it. Reading stops at
// the first record that does not check out; a header or snapshot that does
// not check out makes the journal damaged.

#include "exchange/file_result.h"
#include "view/point_change.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <deque>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace kav {

// A dead instance's journal, found in the folder. It holds that instance's
// lock while it lives, so that no other start takes it at the same time.
class FoundJournal {
public:
    FoundJournal(std::string folder, std::string id, int lockFd);
    FoundJournal(FoundJournal&& other) noexcept;
    FoundJournal& operator=(FoundJournal&&) = delete;
    ~FoundJournal();

    const std::string& Id() const { return m_id; }
    std::string JournalPath() const;
    // When the journal was last written; 0 when there is none.
    std::time_t Modified() const;

    // Nie: the journal is gone for good.
    void Remove();
    // Cannot be read at all: moved aside as `damaged-<time>-<id>` in the
    // same folder, never to be offered again.
    void MoveAside();

private:
    friend class PointJournal;
    void ReleaseLock(bool unlink);

    std::string m_folder;
    std::string m_id;
    int m_lockFd;
};

struct JournalRead {
    enum State {
        Recovered,
        Empty, // holds no points
        Damaged, // its header or snapshot does not check out, or it is no journal
        NoMemory, // the figure does not fit into memory now
        Missing, // cannot be opened
        Cancelled, // the reader gave up; the journal is as it was
    };
    State state = Missing;
    // Where the records that check out end, and the chain there.
    std::uint64_t end = 0;
    std::uint64_t chain = 0;
    std::uint64_t snapshotBytes = 0;
};

// Reads the figure that the journal at `path` holds into `points`, which
// must be empty: the snapshot, then every record that checks out. The
// control's cancel is looked at between megabytes.
JournalRead ReadJournal(const std::string& path, PointStore& points, const FileJobControl& control = {});

// The journals of instances that no longer run, newest first. The journal
// of `ownId` is passed over, and so is every journal whose lock is held.
std::vector<FoundJournal> FindDeadJournals(const std::string& folder, const std::string& ownId);

class PointJournal {
public:
    // Writes land in the kernel at once; on disk within this.
    static constexpr auto kSyncDelay = std::chrono::milliseconds(250);

    PointJournal();
    // Keeps the files, synced: ending without Discard is a fault.
    ~PointJournal();
    PointJournal(const PointJournal&) = delete;
    PointJournal& operator=(const PointJournal&) = delete;

    // Starts this instance's journal in `folder`, created 0700 when missing.
    FileResult Open(const std::string& folder);
    bool IsOpen() const { return m_fd >= 0; }
    const std::string& Id() const { return m_id; }
    std::string JournalPath() const;

    // Records a completed change; `after` is the figure after it. A big
    // change is written anew from the journal's thread, which reads `after`
    // until it is done: see Pinned.
    void Record(const PointChange& change, std::span<const Point> after);
    // The points the thread is reading, which must stay where they are and
    // as they are until WaitForPin returns; empty when none.
    std::span<const Point> Pinned() const;
    void WaitForPin();
    // Until a rewrite under way has replaced the file, or a discarded
    // journal is gone.
    void WaitForThread();

    // Makes `found` this instance's journal. `read` is what ReadJournal
    // gave for it, and `recovered` the points it read, now the figure.
    FileResult Adopt(FoundJournal& found, const JournalRead& read, std::span<const Point> recovered);

    // Everything recorded so far is on disk when this returns.
    void Sync();
    // A normal close: the journal and its lock are removed, on a thread
    // that the destructor waits for.
    void Discard();

    // Why the journal stopped recording; Ok while it records.
    FileResult Failure() const;

    // Bytes of the journal file: the header, the snapshot and the log.
    std::uint64_t FileBytes() const;

private:
    struct Pending {
        PointChange::Kind kind;
        Point point;
    };

    void Run();
    void Rewrite(std::unique_lock<std::mutex>& lock);
    // Writes one record at the end of the current file, chained on.
    bool WriteRecord(PointChange::Kind kind, Point point);
    void StartRewrite(std::span<const Point> after, bool oldStaysValid);
    void Fail(FileResult failure);

    std::string m_folder;
    std::string m_id;
    int m_lockFd = -1;
    int m_fd = -1;
    std::uint64_t m_chain = 0;
    std::uint64_t m_snapshotBytes = 0;
    std::uint64_t m_logBytes = 0;
    std::uint64_t m_started = 0;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    FileResult m_failure;
    bool m_dirty = false;
    bool m_stop = false;
    // A rewrite asked for or under way, of these points.
    bool m_rewrite = false;
    bool m_oldStaysValid = false;
    std::span<const Point> m_pinned;
    std::deque<Pending> m_queued; // recorded while the rewrite runs
    std::atomic<bool> m_discarding = false;
    std::thread m_thread;
    std::thread m_removal; // of a discarded journal
};

} // namespace kav
