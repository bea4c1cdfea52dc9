#pragma once

#include "exchange/coordinate_format.h"
#include "exchange/figure_export.h"

#include <QString>

#include <memory>
#include <optional>

class QWidget;

namespace kav {

// Shows how far a load or a save has got and lets the user cancel it.
class CProgress {
public:
    virtual ~CProgress() = default;
    // Reports the bytes read or written and the points found or written so
    // far, and lets the window repaint; false once the user has cancelled.
    virtual bool Update(qint64 bytes, qint64 points) = 0;
};

// What a progress follows, which decides its caption and its counts.
enum class ProgressWork { Loading, Saving };

// Everything the program asks or tells the user through a modal window goes
// through this interface: the frame hands the view the real dialogs, tests
// hand it scripted answers.
class CUserPrompts {
public:
    enum class Icon { None, Warning };

    virtual ~CUserPrompts() = default;

    // A question with Yes and No buttons; true only for Yes.
    virtual bool AskYesNo(QWidget* owner, const QString& text, const QString& caption) = 0;
    // A message with a single OK button.
    virtual void Tell(QWidget* owner, const QString& text, const QString& caption, Icon icon) = 0;
    // The separators and order of a save; nothing when the user cancels.
    virtual std::optional<SaveFormat> AskSaveFormat(QWidget* owner) = 0;
    // A path to save to or to open; empty when the user cancels.
    virtual QString AskSavePath(QWidget* owner) = 0;
    virtual QString AskOpenPath(QWidget* owner) = 0;
    // Where to export, with the format of the filter chosen (the name may
    // still say otherwise: ResolveExport); nothing when the user cancels.
    virtual std::optional<ExportTarget> AskExportPath(QWidget* owner) = 0;
    // An image to put under the figure; empty when the user cancels.
    virtual QString AskUnderlayPath(QWidget* owner) = 0;
    // The listing of `points` relative to `centre`, until the user closes it
    // or CloseListing comes.
    virtual void ShowListing(QWidget* owner, std::span<const Point> points, Point centre) = 0;
    // Closes the listing that shows, if any; it no longer reads the points
    // once this returns.
    virtual void CloseListing() = 0;
    // The about box, until the user closes it.
    virtual void ShowAbout(QWidget* owner) = 0;
    // Progress of a load of `total` bytes, or of an unknown size when that is
    // negative, or of a save of `total` points (its bytes are not known
    // before), shown once it has run a while.
    virtual std::unique_ptr<CProgress> StartProgress(QWidget* owner, ProgressWork work, const QString& text,
                                                     qint64 total)
        = 0;
};

} // namespace kav
