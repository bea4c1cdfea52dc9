#pragma once

#include "exchange/file_result.h"
#include "view/point_store.h"

#include <cstdint>
#include <string>

namespace kav {

// What reading a journal gave.
struct JournalRead {
    // Ok: the figure is read (no points: it was empty). Otherwise EBADMSG
    // when its header or snapshot does not check out or it is no journal,
    // NoRoom() when the figure does not fit into memory now, Cancelled()
    // when the reader gave up (the journal is as it was), or why it could
    // not be opened or read.
    FileResult result = FileResult::Failed(FileStep::OpenForReading, ENOENT);
    // Where the records that check out end, and the chain there.
    std::uint64_t end = 0;
    std::uint64_t chain = 0;
    std::uint64_t snapshotBytes = 0;
    // Read from the rewrite that its instance had not yet renamed over the
    // journal: a complete snapshot, newer than the journal.
    bool temporary = false;

    bool Damaged() const { return result.error == EBADMSG; }
};

// Reads the figure that the journal at `path` holds into `points`, which
// must be empty: the snapshot, then every record that checks out. A
// complete rewrite beside it is newer and read instead. The control's
// cancel is looked at between megabytes.
JournalRead ReadJournal(const std::string& path, PointStore& points, const FileJobControl& control = {});

} // namespace kav
