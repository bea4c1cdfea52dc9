#include "exchange/point_journal.h"

#include "failing_calls.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <chrono>
#include <cmath>
#include <set>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <thread>

#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

using kav::FindDeadJournals;
using kav::JournalRead;
using kav::Point;
using kav::PointChange;
using kav::PointJournal;
using kav::PointStore;
namespace fs = std::filesystem;

namespace kav {
void PrintTo(const Point& p, std::ostream* out)
{
    *out << '(' << p.x << ',' << p.y << ')';
}
} // namespace kav

namespace {

using Points = std::vector<Point>;

enum State { Recovered, Empty, Damaged, Other };

Points Read(const std::string& path, State* state = nullptr)
{
    PointStore store;
    const JournalRead read = kav::ReadJournal(path, store);
    if (state)
        *state = read.Damaged() ? Damaged : !read.result.Ok() ? Other : store.HasPoints() ? Recovered : Empty;
    return {store.ActivePoints().begin(), store.ActivePoints().end()};
}

std::string Bytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void Write(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// A journal and the figure it records, wired as the app wires them: every
// change through the document, and none after a big one until it is
// written, as the view's commands wait.
struct Recorded {
    PointJournal journal;
    kav::PointDocument model;

    Recorded()
    {
        model.SetObserver(kav::PointDocument::Slot::Journal, &journal);
        model.AddReader(&journal);
    }
    ~Recorded() { model.EndLeases(); }

    void Change(const PointChange& change)
    {
        ASSERT_TRUE(model.Apply(change));
        journal.WaitUntilWritten();
    }
    Points Figure() const { return {model.Points().begin(), model.Points().end()}; }
};

class JournalTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_folder = fs::temp_directory_path() / ("kav-journal-" + std::to_string(::getpid()) + "-"
                                                 + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_folder);
        m_folder /= "state/kav"; // made by the journal, parents included
    }
    void TearDown() override { fs::remove_all(m_folder.parent_path().parent_path()); }

    std::string Folder() const { return m_folder.string(); }

    fs::path m_folder;
};

std::unique_ptr<PointStore> Many(std::size_t count, int seed)
{
    auto store = std::make_unique<PointStore>();
    for (std::size_t i = 0; i < count; ++i)
        EXPECT_TRUE(store->AppendPoint({int(i % 977) + seed, int(i / 977) - seed}));
    return store;
}

} // namespace

// Every kind of change, small and big, comes back as the figure it left;
// a log that outgrows its snapshot is folded into a new one on the way; the
// folder and files are the user's alone.
TEST_F(JournalTest, EveryChangeComesBackAfterTheInstanceDies)
{
    std::string path;
    Points expected;
    {
        Recorded r;
        ASSERT_TRUE(r.journal.Open(Folder()).Ok());
        path = r.journal.JournalPath();
        for (int i = 0; i < 10; ++i)
            r.Change(PointChange::Append({i, -i}));
        r.Change(PointChange::RemoveLast());
        r.Change(PointChange::RemoveLast());
        r.Change(PointChange::Redo());
        r.Change(PointChange::Clear());
        r.Change(PointChange::Append({7, 7}));
        auto loaded = Many(3000, 5);
        r.Change(PointChange::AppendAll(*loaded));
        r.Change(PointChange::Append({8, 8}));
        r.journal.WaitForThread();
        auto replacing = Many(500, 9);
        r.Change(PointChange::ReplaceAll(*replacing));
        r.Change(PointChange::RemoveLast());
        r.Change(PointChange::Append({-1, 2147483647}));
        r.journal.WaitForThread();
        EXPECT_LE(r.journal.FileBytes(), 8 * r.Figure().size() + 4096);
        std::mt19937 random(3);
        for (int i = 0; i < 5000; ++i) {
            r.Change(random() % 3 == 0 ? PointChange::RemoveLast() : PointChange::Append({i, i * 3}));
            if (i % 100 == 0) // what comes during a rewrite waits for the next
                r.journal.WaitForThread();
        }
        r.journal.WaitForThread();
        expected = r.Figure();
        EXPECT_LT(r.journal.FileBytes(), 5000 * 16 / 2); // far less than the whole log
    } // ends without Discard: a fault
    EXPECT_EQ(Read(path), expected);
    EXPECT_EQ(fs::status(Folder()).permissions() & fs::perms::all, fs::perms::owner_all);
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);

    std::vector<kav::FoundJournal> dead = FindDeadJournals(Folder(), "");
    ASSERT_EQ(dead.size(), 1u);
    EXPECT_EQ(dead[0].JournalPath(), path);
}

// A torn write at any byte loses only the records from there on; damage
// to the header or the snapshot makes the journal damaged, never a crash.
TEST_F(JournalTest, ACutAtEveryByteRecoversThePrefix)
{
    std::string path;
    std::vector<Points> states; // after the snapshot and after each record
    {
        Recorded r;
        ASSERT_TRUE(r.journal.Open(Folder()).Ok());
        path = r.journal.JournalPath();
        auto loaded = Many(40, 1);
        r.Change(PointChange::ReplaceAll(*loaded));
        r.journal.WaitForThread();
        states.push_back(r.Figure());
        for (const PointChange& change : {PointChange::Append({1, 2}), PointChange::RemoveLast(),
                                          PointChange::RemoveLast(), PointChange::Clear(), PointChange::Append({3, 4})}) {
            r.Change(change);
            states.push_back(r.Figure());
        }
    }
    const std::string whole = Bytes(path);
    const std::size_t records = 64 + 40 * 8;
    ASSERT_EQ(whole.size(), records + 5 * 16);
    const std::string cut = Folder() + "/cut";
    for (std::size_t length = 0; length <= whole.size(); ++length) {
        Write(cut, whole.substr(0, length));
        State state;
        const Points got = Read(cut, &state);
        if (length < records) {
            EXPECT_EQ(state, Damaged) << length;
        } else {
            const Points& want = states[(length - records) / 16];
            EXPECT_EQ(got, want) << length << " got " << got.size() << " want " << want.size();
            EXPECT_EQ(state, want.empty() ? Empty : Recovered) << length;
        }
    }
    // One flipped bit: damaged before the records, a shorter prefix in them.
    for (std::size_t at = 0; at < whole.size(); at += 7) {
        std::string bad = whole;
        bad[at] = char(bad[at] ^ 0x10);
        Write(cut, bad);
        State state;
        const Points got = Read(cut, &state);
        if (at < records)
            EXPECT_EQ(state, Damaged) << at;
        else
            EXPECT_EQ(got, states[(at - records) / 16]) << at;
    }
}

// Killed at any moment, even while a big change is being written anew, the
// journal holds a figure that really was, never a mix of two: the one after
// the last change completed, or after the one under way.
TEST_F(JournalTest, AKillAtAnyMomentLeavesAFigureThatWas)
{
    constexpr int kClicks = 60;
    constexpr std::size_t kLoaded = 300000;
    const auto clicks = [](int k, bool after) {
        Points points;
        for (int i = 0; i < k; ++i)
            points.push_back({after ? -i : i, i});
        return points;
    };
    const auto loadedModel = Many(kLoaded, 2);
    const Points loaded(loadedModel->ActivePoints().begin(), loadedModel->ActivePoints().end());

    // The changes that the child has completed, counted where the parent
    // sees them after the kill.
    auto* completed = static_cast<std::atomic<int>*>(
        ::mmap(nullptr, sizeof(std::atomic<int>), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(completed, MAP_FAILED);
    std::set<int> kinds;
    for (int attempt = 0; attempt < 24; ++attempt) {
        const std::string folder = Folder() + "/" + std::to_string(attempt);
        completed->store(-1);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            Recorded r;
            if (!r.journal.Open(folder).Ok())
                ::_exit(2);
            completed->store(0);
            for (int i = 0; i < kClicks; ++i) {
                r.Change(PointChange::Append({i, i}));
                ++*completed;
            }
            auto big = Many(kLoaded, 2);
            r.Change(PointChange::ReplaceAll(*big));
            ++*completed;
            for (int i = 0; i < kClicks; ++i) {
                r.Change(PointChange::Append({-i, i}));
                ++*completed;
            }
            r.journal.WaitForThread();
            ::pause();
            ::_exit(0);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(int(300 * std::pow(1.35, attempt))));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status));
        std::vector<kav::FoundJournal> dead = FindDeadJournals(folder, "");
        if (dead.empty())
            continue; // killed before its journal was named
        State state;
        const Points got = Read(dead[0].JournalPath(), &state);
        // The figure after how many changes, if any: clicks only, or the
        // loaded points and clicks after them. One pass, not one per count.
        std::optional<int> changes;
        if (got.size() <= std::size_t(kClicks) && got == clicks(int(got.size()), false)) {
            changes = int(got.size());
        } else if (got.size() >= kLoaded && got.size() - kLoaded <= std::size_t(kClicks)
                   && std::equal(loaded.begin(), loaded.end(), got.begin())) {
            const Points more = clicks(int(got.size() - kLoaded), true);
            if (std::equal(more.begin(), more.end(), got.begin() + kLoaded))
                changes = kClicks + 1 + int(more.size());
        }
        ASSERT_TRUE(changes.has_value()) << "attempt " << attempt << ": " << got.size() << " points that never were";
        kinds.insert(*changes > kClicks);
        // Nothing completed is lost, the big change and the clicks after it
        // included.
        const int done = completed->load();
        if (done >= 0) {
            EXPECT_TRUE(*changes == done || *changes == done + 1)
                << "attempt " << attempt << ": " << done << " changes completed, " << got.size() << " points";
        }
    }
    ::munmap(completed, sizeof(std::atomic<int>));
    EXPECT_EQ(kinds.size(), 2u); // kills landed before and after the big change
}

// A running instance's journal is never offered; a dead one is, and once
// adopted it records on for its new owner.
TEST_F(JournalTest, OnlyDeadJournalsAreFoundAndAdoptedOnesRecordOn)
{
    PointJournal alive;
    ASSERT_TRUE(alive.Open(Folder()).Ok());
    alive.Record(PointChange::Append({1, 1}), {});
    std::string deadPath;
    {
        Recorded dead;
        ASSERT_TRUE(dead.journal.Open(Folder()).Ok());
        deadPath = dead.journal.JournalPath();
        dead.Change(PointChange::Append({5, 6}));
        dead.Change(PointChange::Append({7, 8}));
    }
    PointJournal own;
    ASSERT_TRUE(own.Open(Folder()).Ok());
    std::vector<kav::FoundJournal> found = FindDeadJournals(Folder(), own.Id());
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].JournalPath(), deadPath);
    // While this start holds it, no other start takes it.
    EXPECT_TRUE(FindDeadJournals(Folder(), "").empty());

    PointStore recovered;
    const JournalRead read = kav::ReadJournal(found[0].JournalPath(), recovered);
    ASSERT_TRUE(read.result.Ok());
    ASSERT_TRUE(own.Adopt(found[0], read, recovered.ActivePoints()).Ok());
    EXPECT_FALSE(fs::exists(deadPath));
    ASSERT_TRUE(recovered.AppendPoint({9, 9}));
    own.Record(PointChange::Append({9, 9}), recovered.ActivePoints());
    EXPECT_EQ(Read(own.JournalPath()), (Points{{5, 6}, {7, 8}, {9, 9}}));

    own.Discard();
    alive.Discard();
    own.WaitForThread();
    alive.WaitForThread();
    EXPECT_TRUE(fs::is_empty(Folder())); // a normal close leaves nothing
}

// Clicks while a big change is rewritten on the journal's thread: the
// records and the rewrite's swap of the file meet only under the lock
// (ThreadSanitizer saw the descriptor read without it).
TEST_F(JournalTest, ClicksDuringARewriteMeetItOnlyUnderTheLock)
{
    PointJournal journal;
    ASSERT_TRUE(journal.Open(Folder()).Ok());
    PointStore points;
    ASSERT_TRUE(points.AppendPoints(Points(std::size_t{2} << 20, Point{1, 2})));
    journal.Record(PointChange::ReplaceAll(points), points.ActivePoints());
    Points expected(points.ActivePoints().begin(), points.ActivePoints().end());
    for (int i = 0; i < 2000; ++i) {
        ASSERT_TRUE(points.AppendPoint({i, -i})); // in place: past the lease
        journal.Record(PointChange::Append({i, -i}), points.ActivePoints());
        expected.push_back({i, -i});
    }
    journal.WaitForThread();
    EXPECT_EQ(Read(journal.JournalPath()), expected);
}

// A dead journal that is gone by the time it is adopted (removed meanwhile)
// is written anew from the recovered figure, and that counts: Adopt says Ok.
TEST_F(JournalTest, AJournalGoneBeforeItsAdoptionIsWrittenAnew)
{
    {
        Recorded dead;
        ASSERT_TRUE(dead.journal.Open(Folder()).Ok());
        dead.Change(PointChange::Append({5, 6}));
    }
    PointJournal own;
    ASSERT_TRUE(own.Open(Folder()).Ok());
    std::vector<kav::FoundJournal> found = FindDeadJournals(Folder(), own.Id());
    ASSERT_EQ(found.size(), 1u);
    PointStore recovered;
    const JournalRead read = kav::ReadJournal(found[0].JournalPath(), recovered);
    ASSERT_TRUE(read.result.Ok());
    fs::remove(found[0].JournalPath());
    EXPECT_TRUE(own.Adopt(found[0], read, recovered.ActivePoints()).Ok());
    EXPECT_TRUE(own.Failure().Ok());
    EXPECT_EQ(Read(own.JournalPath()), (Points{{5, 6}}));
    own.Discard();
    own.WaitForThread();
    EXPECT_TRUE(fs::is_empty(Folder()));
}

// Closing right after a large Open: the rewrite under way gives up, and
// nothing is left, its temporary file included.
TEST_F(JournalTest, ADiscardDuringARewriteLeavesNothing)
{
    PointStore points;
    ASSERT_TRUE(points.AppendPoints(Points(std::size_t{4} << 20, Point{3, 4})));
    PointJournal journal;
    ASSERT_TRUE(journal.Open(Folder()).Ok());
    journal.Record(PointChange::ReplaceAll(points), points.ActivePoints());
    journal.Discard();
    journal.WaitForThread();
    EXPECT_TRUE(fs::is_empty(Folder()));
}

TEST_F(JournalTest, DamagedJournalsAreMovedAsideAndEmptyOnesRemoved)
{
    std::string damaged;
    std::string empty;
    for (std::string* path : {&damaged, &empty}) {
        PointJournal journal;
        ASSERT_TRUE(journal.Open(Folder()).Ok());
        *path = journal.JournalPath();
    }
    Write(damaged, "not a journal at all");
    std::vector<kav::FoundJournal> found = FindDeadJournals(Folder(), "");
    ASSERT_EQ(found.size(), 2u);
    for (kav::FoundJournal& journal : found) {
        State state;
        Read(journal.JournalPath(), &state);
        if (journal.JournalPath() == damaged) {
            EXPECT_EQ(state, Damaged);
            journal.MoveAside();
        } else {
            EXPECT_EQ(state, Empty);
            journal.Remove();
        }
    }
    EXPECT_TRUE(FindDeadJournals(Folder(), "").empty());
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(Folder()))
        left.push_back(entry.path().filename().string());
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].rfind("damaged-", 0), 0u);
    EXPECT_EQ(Bytes(Folder() + "/" + left[0]), "not a journal at all");
}

namespace {

// A step of the journal's life whose every system call a row fails in turn.
struct FaultStep {
    const char* name;
    int clicksBefore; // after the three clicks that every row starts with
    void (*run)(Recorded&);
};

// 256 records fill the log to the size that a compaction waits for.
const FaultStep kFaultSteps[] = {
    {"click", 0, [](Recorded& r) { r.Change(PointChange::Append({9, 9})); }},
    {"open", 0,
     [](Recorded& r) {
         auto loaded = Many(3000, 4);
         r.Change(PointChange::ReplaceAll(*loaded));
     }},
    {"compaction", 253, [](Recorded& r) { r.Change(PointChange::Append({9, 9})); }},
};

void Prepare(Recorded& r, const FaultStep& step)
{
    for (int i = 0; i < 3 + step.clicksBefore; ++i)
        r.Change(PointChange::Append({i, i}));
    r.journal.WaitForThread();
}

struct FaultRow {
    const FaultStep* step;
    int call;
    int error;
};

std::vector<FaultRow> FaultRows();

class JournalFaultTest : public JournalTest, public ::testing::WithParamInterface<FaultRow> {};

// Fails each system call of each step in turn, with each error. The journal
// tells of it once, keeps a figure that really was (the one before the step
// or after it), and a normal close leaves nothing behind.
TEST_P(JournalFaultTest, EveryFailedCallIsToldOnceAndLosesNothingDone)
{
    const FaultRow row = GetParam();
    Recorded r;
    int told = 0;
    r.journal.SetFailureHandler([&](kav::FileResult failure) {
        ++told;
        EXPECT_EQ(failure.error, row.error);
    });
    ASSERT_TRUE(r.journal.Open(Folder()).Ok());
    Prepare(r, *row.step);
    // The figure after each change of the step.
    std::vector<Points> figures{r.Figure()};
    kav::ChangeFunction remember([&](const PointChange&, std::span<const Point> after) {
        figures.emplace_back(after.begin(), after.end());
    });
    r.model.SetObserver(kav::PointDocument::Slot::Description, &remember);
    {
        FailingCalls failing(row.call, row.error);
        row.step->run(r);
        r.journal.WaitForThread();
        // The delayed sync of the records before may come within the step
        // or after it.
        if (FailingCalls::Count() <= row.call)
            GTEST_SKIP() << "call " << row.call << " did not come this time";
    }
    EXPECT_EQ(told, 1) << FailingCalls::Failed();
    // What it recorded up to the failure, or everything.
    const Points kept = Read(r.journal.JournalPath());
    EXPECT_NE(std::find(figures.begin(), figures.end(), kept), figures.end())
        << kept.size() << " points, " << figures.back().size() << " at the end; failed: " << FailingCalls::Failed();
    r.journal.Discard();
    r.journal.WaitForThread();
    EXPECT_TRUE(fs::is_empty(Folder()));
}

std::vector<FaultRow> FaultRows()
{
    std::vector<FaultRow> rows;
    for (const FaultStep& step : kFaultSteps) {
        // How many calls the step makes, learnt from a run that fails none.
        const fs::path folder = fs::temp_directory_path() / ("kav-journal-count-" + std::to_string(::getpid()));
        int calls = 0;
        {
            Recorded r;
            if (!r.journal.Open(folder.string()).Ok())
                return rows;
            Prepare(r, step);
            FailingCalls counting(-1, 0);
            step.run(r);
            r.journal.WaitForThread();
            calls = FailingCalls::Count();
            r.journal.Discard();
        }
        fs::remove_all(folder);
        for (int call = 0; call < calls; ++call) {
            for (const int error : {ENOSPC, EIO, EACCES})
                rows.push_back({&step, call, error});
        }
    }
    return rows;
}

INSTANTIATE_TEST_SUITE_P(EveryCall, JournalFaultTest, ::testing::ValuesIn(FaultRows()),
                         [](const ::testing::TestParamInfo<FaultRow>& info) {
                             const int error = info.param.error;
                             return std::string(info.param.step->name) + "_call" + std::to_string(info.param.call)
                                 + (error == ENOSPC ? "_ENOSPC" : error == EIO ? "_EIO" : "_EACCES");
                         });

// The journal's own files fail as they are made: the start says why, and
// leaves nothing.
TEST_F(JournalTest, AJournalThatCannotBeMadeSaysWhyAndLeavesNothing)
{
    int calls = 0;
    {
        FailingCalls counting(-1, 0);
        PointJournal journal;
        ASSERT_TRUE(journal.Open(Folder()).Ok());
        calls = FailingCalls::Count();
        journal.Discard();
    }
    fs::remove_all(Folder());
    for (int call = 0; call < calls; ++call) {
        FailingCalls failing(call, EIO);
        PointJournal journal;
        const kav::FileResult opened = journal.Open(Folder());
        EXPECT_EQ(opened.error, EIO) << FailingCalls::Failed();
        EXPECT_FALSE(journal.IsOpen());
        if (fs::exists(Folder())) {
            EXPECT_TRUE(fs::is_empty(Folder())) << FailingCalls::Failed();
        }
    }
}

// A compaction that fails is not tried again at the next click, and the
// journal records on in the old file.
std::atomic<int> g_rewritesTried = 0;

TEST_F(JournalTest, AFailedCompactionWaitsInsteadOfRetryingAtEveryClick)
{
    Recorded r;
    ASSERT_TRUE(r.journal.Open(Folder()).Ok());
    {
        FailingCalls restores(-1, 0);
        kav::sys::Calls().open = [](const char* path, int flags, mode_t mode) {
            if (std::string(path).ends_with(".tmp")) {
                ++g_rewritesTried;
                errno = ENOSPC;
                return -1;
            }
            return ::open(path, flags, mode);
        };
        for (int i = 0; i < 2000; ++i) {
            r.Change(PointChange::Append({i, i}));
            if (i % 100 == 0)
                r.journal.WaitForThread();
        }
        r.journal.WaitForThread();
    }
    EXPECT_EQ(g_rewritesTried, 1);
    EXPECT_EQ(r.journal.Failure().error, ENOSPC);
    EXPECT_TRUE(r.journal.Recording());
    EXPECT_EQ(Read(r.journal.JournalPath()), r.Figure());
}

} // namespace
