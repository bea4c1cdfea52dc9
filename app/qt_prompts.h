#pragma once

#include "view/user_prompts.h"

namespace kav {

class CCoordListDlg;

// The real dialogs behind the view's questions.
class CQtPrompts final : public CUserPrompts {
public:
    bool AskYesNo(QWidget* owner, const QString& text, const QString& caption) override;
    void Tell(QWidget* owner, const QString& text, const QString& caption, Icon icon) override;
    std::optional<SaveFormat> AskSaveFormat(QWidget* owner) override;
    QString AskSavePath(QWidget* owner) override;
    QString AskOpenPath(QWidget* owner) override;
    std::optional<ExportTarget> AskExportPath(QWidget* owner) override;
    QString AskUnderlayPath(QWidget* owner) override;
    void ShowListing(QWidget* owner, std::span<const Point> points, Point centre) override;
    void CloseListing() override;
    void ShowAbout(QWidget* owner) override;
    std::unique_ptr<CProgress> StartProgress(QWidget* owner, ProgressWork work, const QString& text,
                                             qint64 total) override;

private:
    CCoordListDlg* m_listing = nullptr; // while ShowListing runs
};

} // namespace kav
