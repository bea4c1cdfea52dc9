#pragma once

#include "view/point_store.h"

namespace kav {

// One change of the view's points. Every change goes through the view's
// Apply, which keeps the picture, the join index and the journal in step.
struct PointChange {
    enum class Kind : std::uint8_t {
        Append, // a click or a joined copy
        RemoveLast, // Undo
        Clear, // New
        ReplaceAll, // an Open that replaces, or a recovery
        AppendAll, // an Open that appends
        Recovered, // the figure of a dead instance's journal, which the caller adopts
    };

    Kind kind = Kind::Append;
    Point point; // Append
    PointStore* donor = nullptr; // ReplaceAll, AppendAll: whose points to take

    static PointChange Append(Point p) { return {Kind::Append, p, nullptr}; }
    static PointChange RemoveLast() { return {Kind::RemoveLast, {}, nullptr}; }
    static PointChange Clear() { return {Kind::Clear, {}, nullptr}; }
    static PointChange ReplaceAll(PointStore& donor) { return {Kind::ReplaceAll, {}, &donor}; }
    static PointChange AppendAll(PointStore& donor) { return {Kind::AppendAll, {}, &donor}; }
    static PointChange Recovered(PointStore& donor) { return {Kind::Recovered, {}, &donor}; }

    // Whether it takes many points at once; the journal then writes the
    // whole figure anew instead of a record.
    bool Big() const { return kind == Kind::ReplaceAll || kind == Kind::AppendAll; }
};

} // namespace kav
