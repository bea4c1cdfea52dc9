#include "app/qt_prompts.h"

#include "app/about_box.h"
#include "app/polish_file_columns.h"
#include "exchange/coord_list_dlg.h"
#include "exchange/save_format_dlg.h"
#include "res/strings.h"

#include <QCoreApplication>
#include <algorithm>
#include <QStringList>
#include <QFileDialog>
#include <QLocale>
#include <QMessageBox>
#include <QProgressDialog>

namespace kav {

namespace {

// Qt's own dialog, so that it looks and reads the same on every desktop.
QString AskPath(QWidget* owner, QFileDialog::AcceptMode mode, const QStringList& filters = {ui::kFilterAll, ui::kFilterText},
                int* chosenFilter = nullptr)
{
    QFileDialog dialog(owner);
    dialog.setObjectName(QStringLiteral("fileDialog"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setProxyModel(new PolishFileColumns(&dialog));
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptSave ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setNameFilters(filters);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    if (chosenFilter != nullptr)
        *chosenFilter = static_cast<int>(filters.indexOf(dialog.selectedNameFilter()));
    return dialog.selectedFiles().front();
}

// A progress dialog on top of its window, shown once the load or the save has run
// half a second. A load draws a bar of the bytes read while the size is
// known and a busy bar otherwise (a device, a pipe, a file that grows), and
// says how much was read and how many points were found; a save draws a bar
// of the points written and says how much was written.
class DialogProgress final : public CProgress {
public:
    DialogProgress(QWidget* owner, ProgressWork work, const QString& text, qint64 total)
        : m_dialog(text, ui::kCancel, 0, total > 0 ? kSteps : 0, owner)
        , m_work(work)
        , m_text(text)
        , m_total(total)
    {
        m_dialog.setObjectName(QStringLiteral("progressDialog"));
        m_dialog.setWindowTitle(work == ProgressWork::Saving ? ui::kSavingCaption : ui::kLoadingCaption);
        // Not modal: the window goes on answering (the readouts follow the
        // mouse), and the view refuses every command until the job ends.
        m_dialog.setWindowModality(Qt::NonModal);
        m_dialog.setMinimumDuration(kShowAfterMs);
        m_dialog.setAutoReset(false);
        m_dialog.setAutoClose(false);
        m_dialog.setValue(0);
    }

    bool Update(qint64 bytes, qint64 points) override
    {
        const bool saving = m_work == ProgressWork::Saving;
        const qint64 done = saving ? points : bytes;
        if (m_total > 0 && done <= m_total)
            m_dialog.setValue(static_cast<int>(done * kSteps / m_total));
        else if (m_dialog.maximum() != 0)
            m_dialog.setRange(0, 0);
        const QLocale locale;
        const QString megabytes = locale.toString(bytes / 1048576.0, 'f', 1);
        m_dialog.setLabelText(m_text + u'\n'
                              + (saving ? ui::kSavingProgressText.arg(megabytes)
                                        : ui::kLoadingProgressText.arg(megabytes, locale.toString(points))));
        // The dialog's own timer shows it; until then the window answers as
        // usual, and the view refuses every command.
        return !m_dialog.wasCanceled();
    }

private:
    static constexpr int kSteps = 1000;
    static constexpr int kShowAfterMs = 500;
    QProgressDialog m_dialog;
    ProgressWork m_work;
    QString m_text;
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

std::optional<ExportTarget> CQtPrompts::AskExportPath(QWidget* owner)
{
    int chosen = 0;
    const QString path
        = AskPath(owner, QFileDialog::AcceptSave, {ui::kFilterSvg, ui::kFilterDxf, ui::kFilterPng}, &chosen);
    if (path.isEmpty())
        return std::nullopt;
    constexpr ExportFormat kByFilter[] = {ExportFormat::Svg, ExportFormat::Dxf, ExportFormat::Png};
    return ExportTarget{path, kByFilter[std::clamp(chosen, 0, 2)]};
}

QString CQtPrompts::AskUnderlayPath(QWidget* owner)
{
    return AskPath(owner, QFileDialog::AcceptOpen, {ui::kFilterImages, ui::kFilterAnyFile});
}

void CQtPrompts::ShowListing(QWidget* owner, std::span<const Point> points, Point centre)
{
    CCoordListDlg dialog(owner);
    dialog.SetListing(points, centre);
    m_listing = &dialog;
    dialog.exec();
    m_listing = nullptr;
}

void CQtPrompts::CloseListing()
{
    if (!m_listing)
        return;
    m_listing->SetListing({}, {}); // the index's build ends here
    m_listing->reject();
}

void CQtPrompts::ShowAbout(QWidget* owner)
{
    CAboutBox box(owner);
    box.exec();
}

} // namespace kav

namespace kav {

std::unique_ptr<CProgress> CQtPrompts::StartProgress(QWidget* owner, ProgressWork work, const QString& text,
                                                     qint64 total)
{
    return std::make_unique<DialogProgress>(owner, work, text, total);
}

} // namespace kav
