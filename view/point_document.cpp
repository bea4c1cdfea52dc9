#include "view/point_document.h"

#include <algorithm>
#include <utility>

namespace kav {

PointDocument::PointDocument(PointReallocator reallocate)
    : m_store(reallocate)
{
}

void PointDocument::AddReader(PointReader* reader)
{
    m_readers.push_back(reader);
}

void PointDocument::RemoveReader(PointReader* reader)
{
    std::erase(m_readers, reader);
}

void PointDocument::EndLeases()
{
    for (PointReader* reader : m_readers)
        reader->EndLease();
}

bool PointDocument::Settled() const
{
    return std::none_of(m_observers.begin(), m_observers.end(),
                        [](const PointObserver* observer) { return observer && observer->Settling(); });
}

bool PointDocument::CanLeave(const PointChange& change, std::span<const Point> leased) const
{
    using Kind = PointChange::Kind;
    if (leased.empty())
        return true;
    const auto points = m_store.ActivePoints();
    std::size_t appended = 0;
    switch (change.kind) {
    case Kind::RemoveLast:
    case Kind::Clear:
        return true; // the count goes down; no point is written
    case Kind::Append:
    case Kind::Redo:
        appended = 1;
        break;
    case Kind::AppendAll:
        // An empty store takes the donor's buffer and lets its own go.
        if (points.empty())
            return false;
        appended = change.donor->ActivePoints().size();
        break;
    case Kind::ReplaceAll:
    case Kind::Recovered:
        return false;
    }
    const bool pastLease = points.data() == leased.data() && points.size() >= leased.size();
    return pastLease && m_store.AppendsInPlace(appended);
}

bool PointDocument::Apply(const PointChange& asked)
{
    using Kind = PointChange::Kind;
    PointChange change = asked;
    const auto before = m_store.ActivePoints();
    if ((change.kind == Kind::RemoveLast || change.kind == Kind::Clear) && before.empty())
        return true;
    if (change.kind == Kind::Redo) {
        if (m_undone.empty())
            return true;
        change.point = m_undone.back();
    }
    for (PointReader* reader : m_readers) {
        if (!CanLeave(change, reader->Leased()))
            reader->EndLease();
    }
    for (PointObserver* observer : m_observers) {
        if (observer)
            observer->PointsChanging(change, before);
    }
    const Point last = before.empty() ? Point{} : before.back();
    bool done = true;
    switch (change.kind) {
    case Kind::Append:
    case Kind::Redo:
        done = m_store.AppendPoint(change.point);
        break;
    case Kind::RemoveLast:
        m_store.RemoveLastPoint();
        break;
    case Kind::Clear:
        m_store.ClearPoints();
        break;
    case Kind::ReplaceAll:
    case Kind::Recovered:
        done = m_store.ReplacePoints(std::move(*change.donor));
        break;
    case Kind::AppendAll:
        done = m_store.AppendPoints(std::move(*change.donor));
        break;
    }
    // What the donor still holds, this store's old buffers or its own
    // copied points, may be hundreds of megabytes.
    if (change.donor)
        change.donor->DropBuffers();
    if (!done)
        return false;
    // Undo keeps what it took for Redo; any other change forgets it.
    if (change.kind == Kind::RemoveLast)
        m_undone.push_back(last);
    else if (change.kind == Kind::Redo)
        m_undone.pop_back();
    else
        m_undone.clear();
    const auto after = m_store.ActivePoints();
    for (PointObserver* observer : m_observers) {
        if (observer)
            observer->PointsChanged(change, after);
    }
    return true;
}

} // namespace kav
