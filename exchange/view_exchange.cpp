// The view's Save, Open and listing commands: the view's handlers that move
// points between the store and text.

#include "exchange/coord_listing.h"
#include "exchange/file_errors.h"
#include "exchange/point_file.h"
#include "res/strings.h"
#include "view/kav_view.h"
#include "view/user_prompts.h"

#include <QDir>
#include <QFile>

namespace kav {

void CKavView::OnPointsSave()
{
    if (!m_store.HasPoints()) {
        m_prompts.Tell(this, ui::kNoPointsText, ui::kNoPointsCaption, CUserPrompts::Icon::None);
        return;
    }
    const std::optional<SaveFormat> format = m_prompts.AskSaveFormat(this);
    if (!format)
        return;
    const QString path = m_prompts.AskSavePath(this);
    if (path.isEmpty())
        return;
    const QString failure = SavePointsToFile(path, m_store.ActivePoints(), *format);
    if (!failure.isEmpty())
        m_prompts.Tell(this, ui::kSaveFailedText.arg(QDir::toNativeSeparators(path), failure), ui::kSaveFailedCaption,
                       CUserPrompts::Icon::Warning);
}

void CKavView::OnPointsOpen()
{
    const QString path = m_prompts.AskOpenPath(this);
    if (path.isEmpty())
        return;
    const QString shownPath = QDir::toNativeSeparators(path);
    // Opened before the question, so that a file that cannot be read never
    // costs the user the points already drawn.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        m_prompts.Tell(this, ui::kOpenFailedText.arg(shownPath, ReadErrorReason(file)), ui::kOpenFailedCaption,
                       CUserPrompts::Icon::Warning);
        return;
    }
    const bool replace = m_store.HasPoints() && m_prompts.AskYesNo(this, ui::kReplaceText, ui::kReplaceCaption);

    // The whole file is read aside first: a failure part way, or a cancel,
    // leaves the points as they were.
    PointStore loaded;
    std::unique_ptr<CProgress> progress = m_prompts.StartProgress(this, ui::kLoadingText, file.size());
    const LoadResult result
        = LoadPointsFrom(file, loaded, [&progress](qint64 done) { return !progress || progress->Update(done); });
    progress.reset();

    if (result.status == LoadStatus::Cancelled)
        return;
    if (result.status == LoadStatus::ReadFailed) {
        m_prompts.Tell(this, ui::kReadFailedText.arg(shownPath, result.reason), ui::kOpenFailedCaption,
                       CUserPrompts::Icon::Warning);
        return;
    }
    const bool stored = result.status == LoadStatus::Loaded
        && (replace ? m_store.ReplacePoints(std::move(loaded)) : m_store.AppendPoints(std::move(loaded)));
    if (!stored) {
        m_prompts.Tell(this, ui::kLoadTooLargeText.arg(shownPath), ui::kOpenFailedCaption, CUserPrompts::Icon::Warning);
        return;
    }
    update();
}

void CKavView::OnShowCoords()
{
    const std::string text = FormatListing(m_store.ActivePoints(), width() / 2, height() / 2);
    m_prompts.ShowListing(this, QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
}

} // namespace kav
