#pragma once

#include "view/point_store.h"

namespace kav {

// One change of the figure's points. Every change goes through
// PointDocument::Apply, which tells everyone who keeps something in step.
struct PointChange {
    enum class Kind : std::uint8_t {
        Append, // a click or a joined copy
        RemoveLast, // Undo
        Clear, // New
        ReplaceAll, // an Open that replaces, or a recovery
        AppendAll, // an Open that appends
        Recovered, // the figure of a dead instance's journal, which the caller adopts
        Redo, // takes back the last Undo: the point comes back at the end
    };

    Kind kind = Kind::Append;
    Point point; // Append; Redo, as the document tells it
    PointStore* donor = nullptr; // ReplaceAll, AppendAll: whose points to take

    static PointChange Append(Point p) { return {Kind::Append, p, nullptr}; }
    static PointChange RemoveLast() { return {Kind::RemoveLast, {}, nullptr}; }
    static PointChange Clear() { return {Kind::Clear, {}, nullptr}; }
    static PointChange ReplaceAll(PointStore& donor) { return {Kind::ReplaceAll, {}, &donor}; }
    static PointChange AppendAll(PointStore& donor) { return {Kind::AppendAll, {}, &donor}; }
    static PointChange Recovered(PointStore& donor) { return {Kind::Recovered, {}, &donor}; }
    static PointChange Redo() { return {Kind::Redo, {}, nullptr}; }

    // Whether it takes many points at once; the journal then writes the
    // whole figure anew instead of a record.
    bool Big() const { return kind == Kind::ReplaceAll || kind == Kind::AppendAll; }
};

} // namespace kav
