#include "app/main_frame.h"

#include "app/kav_app.h"
#include "app/memory_limit.h"
#include "exchange/file_commands.h"
#include "res/strings.h"
#include "view/kav_view.h"

#include <QIcon>
#include <QLabel>
#include <QMenuBar>
#include <QStatusBar>

namespace kav {

namespace {

// How long the message pane shows a notice of the view.
constexpr int kNoticeMs = 4000;

// A label's accessible name hides its text, so the text is also its
// description.
void SetPaneText(QLabel* pane, const QString& text)
{
    pane->setText(text);
    pane->setAccessibleDescription(text);
}

// The pane fits its blank text and the widest readout it will usually show,
// and keeps that width.
QLabel* MakePane(QStatusBar* bar, const QString& name, const QString& accessibleName, const QString& blanks,
                 const QString& widest)
{
    auto* pane = new QLabel(bar);
    pane->setObjectName(name);
    pane->setAccessibleName(accessibleName);
    SetPaneText(pane, blanks);
    pane->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    const QFontMetrics metrics(bar->font());
    const int text = std::max(metrics.horizontalAdvance(blanks), metrics.horizontalAdvance(widest));
    const QMargins margins = pane->contentsMargins();
    pane->setFixedWidth(text + margins.left() + margins.right() + 2 * pane->margin() + metrics.averageCharWidth());
    bar->addPermanentWidget(pane);
    return pane;
}

} // namespace

CMainFrame::CMainFrame(CKavApp& app, CUserPrompts& prompts, QWidget* parent)
    : QMainWindow(parent)
    , m_app(app)
    , m_view(new CKavView(prompts, this, &ReallocateWithinMemory))
    , m_files(std::make_unique<CFileCommands>(*m_view, m_view->Document(), prompts, m_view->Commands()))
{
    setObjectName(QStringLiteral("mainFrame"));
    setWindowTitle(ui::kCaption);
    setWindowIcon(AppIcon());
    setCentralWidget(m_view);
    CreateActions();
    CreateMenus();
    m_view->AddContextActions({m_actLoadUnderlay, m_actShowUnderlay, m_actRemoveUnderlay, m_actExport});
    m_files->SetShownPicture([this] { return m_view->Shown(); });
    CreateStatusBar();
    DispatchTable();
    resize(640, 480);
}

CMainFrame::~CMainFrame() = default;

void CMainFrame::closeEvent(QCloseEvent* event)
{
    m_app.OnMainFrameClose();
    QMainWindow::closeEvent(event);
}

QLabel* CMainFrame::Pane(int indicatorId) const
{
    switch (indicatorId) {
    case ui::ID_INDICATOR_X:
        return m_paneX;
    case ui::ID_INDICATOR_Y:
        return m_paneY;
    case ui::ID_INDICATOR_COUNT:
        return m_paneCount;
    default:
        return nullptr;
    }
}

void CMainFrame::CreateActions()
{
    auto make = [this](const QString& caption, int id, const QString& prompt) {
        auto* action = new QAction(caption, this);
        action->setData(id);
        action->setObjectName(QStringLiteral("command%1").arg(id));
        action->setStatusTip(prompt);
        action->setMenuRole(QAction::NoRole);
        return action;
    };
    m_actNew = make(ui::kMenuNew, ui::ID_POINTS_NEW, ui::kPromptNew);
    m_actOpen = make(ui::kMenuOpen, ui::ID_POINTS_OPEN, ui::kPromptOpen);
    m_actSave = make(ui::kMenuSave, ui::ID_POINTS_SAVE, ui::kPromptSave);
    m_actExit = make(ui::kMenuExit, ui::ID_APP_EXIT, ui::kPromptExit);
    m_actShowCoords = make(ui::kMenuShowCoords, ui::ID_SHOW_COORDS, QString());
    m_actUndo = make(ui::kMenuUndo, ui::ID_UNDO_POINT, QString());
    m_actRedo = make(ui::kMenuRedo, ui::ID_REDO_POINT, QString());
    m_actAbout = make(ui::kMenuAbout, ui::ID_APP_ABOUT, ui::kPromptAbout);
    // The platform's usual keys; they trigger the same actions as the menu.
    m_actNew->setShortcuts(QKeySequence::New);
    m_actOpen->setShortcuts(QKeySequence::Open);
    m_actSave->setShortcuts(QKeySequence::Save);
    // A platform without a Quit key (Windows, and Qt's offscreen one) still
    // gets the one that the others use.
    const QList<QKeySequence> quit = QKeySequence::keyBindings(QKeySequence::Quit);
    m_actExit->setShortcuts(quit.isEmpty() ? QList{QKeySequence(Qt::CTRL | Qt::Key_Q)} : quit);
    m_actUndo->setShortcuts(QKeySequence::Undo);
    // Ctrl+Shift+Z everywhere, and the platform's own key where it has
    // another (Ctrl+Y on Windows).
    QList<QKeySequence> redo{QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)};
    for (const QKeySequence& key : QKeySequence::keyBindings(QKeySequence::Redo)) {
        if (!redo.contains(key))
            redo.append(key);
    }
    m_actRedo->setShortcuts(redo);
    addAction(m_actRedo); // its keys work without a menu entry

    // The view's context menu: an image to trace, and the export.
    auto entry = [this](const QString& caption, const QString& name) {
        auto* action = new QAction(caption, this);
        action->setObjectName(name);
        return action;
    };
    m_actLoadUnderlay = entry(ui::kMenuLoadUnderlay, QStringLiteral("loadUnderlay"));
    m_actShowUnderlay = entry(ui::kMenuShowUnderlay, QStringLiteral("showUnderlay"));
    m_actShowUnderlay->setCheckable(true);
    m_actRemoveUnderlay = entry(ui::kMenuRemoveUnderlay, QStringLiteral("removeUnderlay"));
    m_actExport = entry(ui::kMenuExport, QStringLiteral("export"));
    m_actExport->setShortcut(Qt::CTRL | Qt::Key_E);
    addAction(m_actExport);
    OnUnderlayChanged();
}

// Show and Remove have something to work on only while there is an underlay.
void CMainFrame::OnUnderlayChanged()
{
    const bool has = m_view->CurrentUnderlay() != nullptr;
    m_actShowUnderlay->setEnabled(has);
    m_actShowUnderlay->setChecked(m_view->UnderlayShown());
    m_actRemoveUnderlay->setEnabled(has);
}

void CMainFrame::CreateMenus()
{
    QMenuBar* bar = menuBar();
    QMenu* file = bar->addMenu(ui::kMenuFile);
    file->setObjectName(QStringLiteral("menuFile"));
    file->addAction(m_actNew);
    file->addAction(m_actOpen);
    file->addAction(m_actSave);
    file->addSeparator();
    file->addAction(m_actExit);
    bar->addSeparator();
    bar->addAction(m_actShowCoords);
    bar->addSeparator();
    bar->addAction(m_actUndo);
    bar->addSeparator();
    QMenu* help = bar->addMenu(ui::kMenuHelp);
    help->setObjectName(QStringLiteral("menuHelp"));
    help->addAction(m_actAbout);
    bar->addSeparator();
}

void CMainFrame::CreateStatusBar()
{
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("statusBar"));
    bar->setSizeGripEnabled(false);
    m_paneX = MakePane(bar, QStringLiteral("paneX"), ui::kPaneNameX, ui::kIndicatorX, QStringLiteral("x=-123456"));
    m_paneY = MakePane(bar, QStringLiteral("paneY"), ui::kPaneNameY, ui::kIndicatorY, QStringLiteral("y=-123456"));
    // The store holds at most 2^30 - 1 points: ten digits.
    m_paneCount = MakePane(bar, QStringLiteral("paneCount"), ui::kPaneNameCount, ui::kIndicatorCount,
                           QString::fromUtf8(ui::kReadoutCountA).arg(1073741823));
}

// Every command the window answers, and who handles it.
void CMainFrame::DispatchTable()
{
    connect(m_actNew, &QAction::triggered, m_view, &CKavView::OnPointsNew);
    connect(m_actSave, &QAction::triggered, m_files.get(), &CFileCommands::OnPointsSave);
    connect(m_actOpen, &QAction::triggered, m_files.get(), &CFileCommands::OnPointsOpen);
    connect(m_actShowCoords, &QAction::triggered, m_view, &CKavView::OnShowCoords);
    connect(m_actUndo, &QAction::triggered, m_view, &CKavView::OnUndoPoint);
    connect(m_actRedo, &QAction::triggered, m_view, &CKavView::OnRedoPoint);
    connect(m_actAbout, &QAction::triggered, &m_app, &CKavApp::OnAppAbout);
    connect(m_actExit, &QAction::triggered, this, &QWidget::close);
    connect(m_actLoadUnderlay, &QAction::triggered, m_files.get(), &CFileCommands::OnLoadUnderlay);
    connect(m_actShowUnderlay, &QAction::triggered, m_view, &CKavView::OnShowUnderlay);
    connect(m_actRemoveUnderlay, &QAction::triggered, m_view, [this] { m_view->SetUnderlay(nullptr); });
    connect(m_actExport, &QAction::triggered, m_files.get(), &CFileCommands::OnExport);
    connect(m_files.get(), &CFileCommands::UnderlayLoaded, m_view, &CKavView::SetUnderlay);
    connect(m_view, &CKavView::UnderlayChanged, this, &CMainFrame::OnUnderlayChanged);
    connect(m_view, &CKavView::ReadoutsChanged, this, &CMainFrame::OnReadoutsChanged);
    connect(m_view, &CKavView::Notice, this, [this](const QString& text) { statusBar()->showMessage(text, kNoticeMs); });
    // A highlighted entry on the bar shows its prompt, which for every bar
    // entry is none; entries of the pop-ups show theirs through Qt.
    connect(menuBar(), &QMenuBar::hovered, this,
            [this](QAction* action) { statusBar()->showMessage(action->statusTip()); });
}

void CMainFrame::OnReadoutsChanged(const QString& x, const QString& y, const QString& count)
{
    SetPaneText(m_paneX, x);
    SetPaneText(m_paneY, y);
    SetPaneText(m_paneCount, count);
}

} // namespace kav
