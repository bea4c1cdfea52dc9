#pragma once

#include "view/point_change.h"
#include "view/point_store.h"

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace kav {

// Someone who must learn of every change of the points.
class PointObserver {
public:
    virtual ~PointObserver() = default;
    // The change is about to be made; `before` are the points as they are.
    // The store may still refuse it, so this may be followed by no change.
    virtual void PointsChanging(const PointChange&, std::span<const Point> /*before*/) {}
    // The change is made; `after` are the points now.
    virtual void PointsChanged(const PointChange& change, std::span<const Point> after) = 0;
    // A change it was told of is not yet safe, so none may follow yet: the
    // journal, until a big change is written.
    virtual bool Settling() const { return false; }
};

// An observer that runs one function after each change.
class ChangeFunction final : public PointObserver {
public:
    using Function = std::function<void(const PointChange&, std::span<const Point> after)>;
    explicit ChangeFunction(Function changed)
        : m_changed(std::move(changed))
    {
    }
    void PointsChanged(const PointChange& change, std::span<const Point> after) override { m_changed(change, after); }

private:
    Function m_changed;
};

// A reader of the points on another thread: the journal's rewrite, the
// index worker, the saver. It reads the points that it leased in place.
class PointReader {
public:
    virtual ~PointReader() = default;
    // The points it reads or is about to read; empty when none.
    virtual std::span<const Point> Leased() const = 0;
    // Stops reading, or waits for a reading that ends by itself; the leased
    // points are free once it returns.
    virtual void EndLease() = 0;
};

// The figure: it owns the points, and every change of them goes through
// Apply, which tells the observers. They are told in the order of their
// slots, the same for PointsChanging and PointsChanged:
//
//   1. Picture: the kept picture drops what goes;
//   2. JoinIndex: the join search forgets what goes;
//   3. Journal: the recovery journal records the change;
//   4. Description: the accessible description counts the points;
//   5. Repaint: the view schedules a paint, last, once all is in step.
//
// Before a change that would write over, move or free points that a reader
// has leased, the reader's lease ends (CanLeave decides, in one place).
class PointDocument {
public:
    enum class Slot : std::uint8_t { Picture, JoinIndex, Journal, Description, Repaint };
    static constexpr std::size_t kSlots = 5;

    explicit PointDocument(PointReallocator reallocate = &ReallocatePoints);
    PointDocument(const PointDocument&) = delete;
    PointDocument& operator=(const PointDocument&) = delete;

    const PointStore& Store() const { return m_store; }
    std::span<const Point> Points() const { return m_store.ActivePoints(); }

    // The one way to change the points. False when the store refused it;
    // nothing changed then.
    bool Apply(const PointChange& change);

    // nullptr empties the slot.
    void SetObserver(Slot slot, PointObserver* observer) { m_observers[static_cast<std::size_t>(slot)] = observer; }
    void AddReader(PointReader* reader);
    void RemoveReader(PointReader* reader);

    // Ends every lease: before the points go.
    void EndLeases();
    // Whether no observer is settling a change, so that another may follow.
    bool Settled() const;
    // Whether Redo has an undone point to bring back.
    bool CanRedo() const { return !m_undone.empty(); }

    // Whether `change` leaves points that a reader leased where and as they
    // are: only points written past the lease, into the same buffer.
    bool CanLeave(const PointChange& change, std::span<const Point> leased) const;

private:
    PointStore m_store;
    std::array<PointObserver*, kSlots> m_observers{};
    std::vector<PointReader*> m_readers;
    // The points that Undo took, newest last, for Redo.
    std::vector<Point> m_undone;
};

} // namespace kav
