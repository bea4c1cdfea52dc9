#include "app/qt_prompts.h"

#include "app/about_box.h"
#include "exchange/coord_list_dlg.h"
#include "exchange/save_format_dlg.h"
#include "res/strings.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QProgressDialog>

namespace kav {

namespace {

// Qt's own dialog, so that it looks and reads the same on every desktop.
QString AskPath(QWidget* owner, QFileDialog::AcceptMode mode)
{
    QFileDialog dialog(owner);
    dialog.setObjectName(QStringLiteral("fileDialog"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptSave ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setNameFilters({ui::kFilterAll, ui::kFilterText});
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().front();
}

class DialogProgress final : public CProgress {
public:
    DialogProgress(QWidget* owner, const QString& text, qint64 total)
        : m_dialog(text, ui::kCancel, 0, kSteps, owner)
        , m_total(std::max<qint64>(total, 1))
    {
        m_dialog.setObjectName(QStringLiteral("progressDialog"));
        m_dialog.setWindowModality(Qt::WindowModal);
        m_dialog.setMinimumDuration(500);
        m_dialog.setAutoReset(false);
        m_dialog.setValue(0);
    }

    bool Update(qint64 done) override
    {
        // A modal progress dialog handles events in setValue, so the
        // window stays drawn and Cancel gets through.
        m_dialog.setValue(static_cast<int>(std::min(done, m_total) * kSteps / m_total));
        return !m_dialog.wasCanceled();
    }

private:
    static constexpr int kSteps = 1000;
    QProgressDialog m_dialog;
    qint64 m_total;
};

} // namespace

bool CQtPrompts::AskYesNo(QWidget* owner, const QString& text, const QString& caption)
{
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Yes | QMessageBox::No, owner);
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

void CQtPrompts::Tell(QWidget* owner, const QString& text, const QString& caption, Icon icon)
{
    QMessageBox box(icon == Icon::Warning ? QMessageBox::Warning : QMessageBox::NoIcon, caption, text, QMessageBox::Ok,
                    owner);
    box.exec();
}

std::optional<SaveFormat> CQtPrompts::AskSaveFormat(QWidget* owner)
{
    CSaveFormatDlg dialog(owner);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.Format();
}

QString CQtPrompts::AskSavePath(QWidget* owner)
{
    return AskPath(owner, QFileDialog::AcceptSave);
}

QString CQtPrompts::AskOpenPath(QWidget* owner)
{
    return AskPath(owner, QFileDialog::AcceptOpen);
}

void CQtPrompts::ShowListing(QWidget* owner, const QString& text)
{
    CCoordListDlg dialog(owner);
    dialog.SetText(text);
    dialog.exec();
}

void CQtPrompts::ShowAbout(QWidget* owner)
{
    CAboutBox box(owner);
    box.exec();
}

} // namespace kav

namespace kav {

std::unique_ptr<CProgress> CQtPrompts::StartProgress(QWidget* owner, const QString& text, qint64 total)
{
    return std::make_unique<DialogProgress>(owner, text, total);
}

} // namespace kav
