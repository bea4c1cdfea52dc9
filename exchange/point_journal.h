#pragma once

// This instance's recovery journal: what a fault of the program (a crash,
// kill -9, the X server going away, a power cut) would otherwise cost, kept
// on disk. The file format is in journal_format.h, the reader in
// journal_reader.h, the folder's names and locks in journal_folder.h.
//
// A small change is one record, written with one write() before the next
// event, so that it survives the death of the process; the journal's thread
// fdatasyncs it within kSyncDelay. A big change (an Open, a recovery that
// could not be adopted) and a log grown past its snapshot (a compaction)
// are written by the thread as `<id>.journal.tmp`:
//
//   1. a zero header and the snapshot, read from the leased points; then
//      the lease ends and the points may change again;
//   2. for a compaction, an fdatasync: the header must never reach the disk
//      before the points it vouches for, since the old file holds changes
//      that were synced;
//   3. under the lock, the records queued since the change, then the
//      header. From here a reader prefers the new file, and every record
//      goes to it. A big change counts as written (Writing() turns false,
//      the written handler runs);
//   4. fdatasync, the rename over the journal, and the folder's fsync.
//
// A kill at any moment leaves the figure after the last completed change:
// the old file until step 3, the new one after it. A power cut leaves the
// last synced figure, since each file's header is on disk only after (or
// with) what it vouches for, and the rename only after the whole file.

#include "exchange/file_result.h"
#include "exchange/journal_folder.h"
#include "exchange/journal_format.h"
#include "exchange/journal_reader.h"
#include "view/point_document.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>

namespace kav {

// The document tells it every change (it is the observer in the Journal
// slot) and ends its lease before a change that would disturb it.
class PointJournal final : public PointObserver, public PointReader {
public:
    // Writes land in the kernel at once; on disk within this.
    static constexpr auto kSyncDelay = std::chrono::milliseconds(250);
    // A compaction that failed (a full disk, say) is tried again only after
    // this, or at the next big change: never at every click.
    static constexpr auto kRetryDelay = std::chrono::seconds(60);

    PointJournal();
    // Keeps the files, synced: ending without Discard is a fault.
    ~PointJournal() override;
    PointJournal(const PointJournal&) = delete;
    PointJournal& operator=(const PointJournal&) = delete;

    // Starts this instance's journal in `folder`, created 0700 when missing.
    // The files and the folder's entries for them are on disk on return.
    FileResult Open(const std::string& folder);
    bool IsOpen() const;
    const std::string& Id() const { return m_id; }
    std::string JournalPath() const;

    // Runs once, at the first failure, on the thread that met it (this
    // one's or the journal's); set before the first Record.
    void SetFailureHandler(std::function<void(FileResult)> handler) { m_onFailure = std::move(handler); }
    // Runs on the journal's thread each time a big change has been written
    // or has failed (Writing() turned false); set before the first Record.
    void SetWrittenHandler(std::function<void()> handler) { m_onWritten = std::move(handler); }

    // Records a completed change; `after` is the figure after it. A big
    // change and a compaction read `after` from the thread: see Leased.
    void Record(const PointChange& change, std::span<const Point> after);
    void PointsChanged(const PointChange& change, std::span<const Point> after) override { Record(change, after); }
    // A big change has been recorded and is not yet written (step 3): no
    // change may follow it until then, or a kill would lose both.
    bool Writing() const;
    bool Settling() const override { return Writing(); }
    void WaitUntilWritten();

    // The points that the thread reads or is about to read, which must stay
    // where and as they are until the lease ends; empty when none.
    std::span<const Point> Leased() const override;
    // Ends the lease: a compaction gives up (the old file holds every
    // change), a big change's snapshot is waited for, which ends by itself.
    void EndLease() override;

    // Until every rewrite asked for has ended, or a discarded journal is gone.
    void WaitForThread();

    // Makes `found` this instance's journal. `read` is what ReadJournal
    // gave for it, and `recovered` the points it read, now the figure. When
    // the file cannot be taken over, the figure is written anew; the result
    // is that of whichever was done.
    FileResult Adopt(FoundJournal& found, const JournalRead& read, std::span<const Point> recovered);

    // Everything recorded so far is on disk when this returns Ok.
    FileResult Sync();
    // A normal close: the journal and its lock are removed, on a thread
    // that the destructor waits for.
    void Discard();

    // The first failure: Ok while every step has succeeded. The journal
    // stops recording after any failure but a compaction's, which leaves
    // the old file whole and current.
    FileResult Failure() const;
    bool Recording() const;

    // Bytes of the journal file: the header, the snapshot and the log.
    std::uint64_t FileBytes() const;

private:
    using Clock = std::chrono::steady_clock;
    struct Pending {
        journal::RecordKind kind;
        Point point;
    };
    struct Rewrite {
        std::span<const Point> points;
        bool big = false; // else a compaction
    };

    void Run();
    void DoRewrite(std::unique_lock<std::mutex>& lock);
    // Writes one record at the end of the current file, chained on.
    FileResult WriteRecord(journal::RecordKind kind, Point point);
    void Fail(FileResult failure, bool stops);
    void WaitForSync(std::unique_lock<std::mutex>& lock);
    // A big change has been recorded after the rewrite under way began.
    bool Superseded() const { return m_next && m_next->big; }

    // Set by Open before the thread starts, and not changed after.
    std::string m_folder;
    std::string m_id;
    std::uint64_t m_started = 0;
    std::function<void(FileResult)> m_onFailure;
    std::function<void()> m_onWritten;
    // Owned by the UI thread; the thread only ends before Discard closes it.
    int m_lockFd = -1;

    // Everything below is guarded by m_mutex. m_fd is swapped only by the
    // thread (step 3) and by Adopt, which waits for the thread to be idle
    // and for no sync to run on the old descriptor.
    mutable std::mutex m_mutex;
    std::condition_variable m_wake; // the thread: work has come
    std::condition_variable m_idle; // waiters: a lease, a rewrite or a sync ended
    int m_fd = -1;
    std::uint64_t m_chain = 0;
    std::uint64_t m_snapshotBytes = 0;
    std::uint64_t m_logBytes = 0;
    FileResult m_failure;
    bool m_recording = false;
    bool m_dirty = false; // written since the last sync
    bool m_syncing = false; // the thread syncs m_fd without the lock
    bool m_stop = false;
    std::optional<Rewrite> m_next; // asked for, not yet started
    bool m_rewriting = false; // started, not yet ended (steps 1 to 4)
    bool m_queueing = false; // steps 1 and 2: records wait for the new file
    bool m_oldStaysValid = false; // of the rewrite under way: a compaction
    bool m_bigPending = false; // a big change not yet written
    bool m_abandon = false; // the compaction under way gives up
    std::span<const Point> m_lease;
    std::deque<Pending> m_queued; // for the new file
    Clock::time_point m_retryAt{};

    std::atomic<bool> m_discarding = false; // read by the thread between megabytes
    std::thread m_thread;
    std::thread m_removal; // of a discarded journal; joined by the destructor
};

} // namespace kav
