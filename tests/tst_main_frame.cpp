#include "scripted_prompts.h"

#include "app/about_box.h"
#include "app/kav_app.h"
#include "app/main_frame.h"
#include "res/strings.h"
#include "view/kav_view.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>

using kav::CMainFrame;

class TestMainFrame : public QObject {
    Q_OBJECT

    ScriptedPrompts* m_prompts = nullptr;
    kav::CKavApp* m_app = nullptr;
    CMainFrame* m_frame = nullptr;

    QAction* Command(int id) const { return m_frame->findChild<QAction*>(QStringLiteral("command%1").arg(id)); }

private Q_SLOTS:
    void init()
    {
        m_prompts = new ScriptedPrompts;
        m_app = new kav::CKavApp(*m_prompts);
        m_frame = new CMainFrame(*m_app, *m_prompts);
        m_frame->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_frame));
    }
    void cleanup()
    {
        delete m_frame;
        delete m_app;
        delete m_prompts;
    }

    void menuBarHasTheEntriesInOrder()
    {
        QCOMPARE(m_frame->windowTitle(), QStringLiteral("KAV Edytor"));
        const QList<QAction*> bar = m_frame->menuBar()->actions();
        QStringList captions;
        for (QAction* a : bar)
            captions << (a->isSeparator() ? QStringLiteral("|") : a->text());
        QCOMPARE(
            captions,
            (QStringList{"&Plik", "|", QStringLiteral("Pokaż współrzędne"), "|", "&Cofnij", "|", "&O programie", "|"}));
        QVERIFY(bar[2]->menu() == nullptr); // commands straight on the bar
        QVERIFY(bar[4]->menu() == nullptr);

        QStringList file;
        for (QAction* a : bar[0]->menu()->actions())
            file << (a->isSeparator() ? QStringLiteral("|") : a->text());
        QCOMPARE(file,
                 (QStringList{"&Nowy", QStringLiteral("&Otwórz..."), "Zapi&sz...", "|", QStringLiteral("&Wyjście")}));
        QCOMPARE(bar[6]->menu()->actions().size(), 1);
        QCOMPARE(bar[6]->menu()->actions()[0]->text(), QStringLiteral("&About kav..."));

        // The listing and the about box keep to their mnemonics.
        for (QAction* a : m_frame->findChildren<QAction*>())
            if (a->data() == kav::ui::ID_SHOW_COORDS || a->data() == kav::ui::ID_APP_ABOUT)
                QVERIFY2(a->shortcut().isEmpty(), qPrintable(a->text()));
    }

    void promptsAreTheStatusTips()
    {
        const QList<QPair<int, QString>> expected = {
            {kav::ui::ID_POINTS_NEW, QStringLiteral("Nowy projekt.")},
            {kav::ui::ID_POINTS_OPEN, QStringLiteral("Otwórz plik ze współrzędnymi.")},
            {kav::ui::ID_POINTS_SAVE, QStringLiteral("Zapisz współrzedne narysowanego objektu.")},
            {kav::ui::ID_APP_EXIT, QStringLiteral("Wyjście z programu.")},
            {kav::ui::ID_APP_ABOUT, QStringLiteral("Autor i wersja programu.")},
            {kav::ui::ID_SHOW_COORDS, QString()},
            {kav::ui::ID_UNDO_POINT, QString()},
        };
        for (const auto& [id, prompt] : expected) {
            QVERIFY(Command(id));
            QCOMPARE(Command(id)->statusTip(), prompt);
        }
    }

    void highlightingShowsThePromptAndLeavingClearsIt()
    {
        QMenu* file = m_frame->menuBar()->actions()[0]->menu();
        file->popup(m_frame->mapToGlobal(QPoint(0, 0)));
        QVERIFY(QTest::qWaitForWindowExposed(file));
        QTest::mouseMove(file, file->actionGeometry(Command(kav::ui::ID_POINTS_NEW)).center());
        QTRY_COMPARE(m_frame->statusBar()->currentMessage(), QStringLiteral("Nowy projekt."));
        file->close();
        QTRY_COMPARE(m_frame->statusBar()->currentMessage(), QString());

        m_frame->statusBar()->showMessage(QStringLiteral("stale"));
        Command(kav::ui::ID_UNDO_POINT)->hover(); // as the bar does when the entry is highlighted
        QCOMPARE(m_frame->statusBar()->currentMessage(), QString());
    }

    void barCommandsRunAtOnce()
    {
        kav::CKavView* view = m_frame->View();
        QVERIFY(view->Apply(kav::PointChange::Append({10, 10})));
        QVERIFY(view->Apply(kav::PointChange::Append({20, 20})));
        QMenuBar* bar = m_frame->menuBar();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(Command(kav::ui::ID_UNDO_POINT)).center());
        QCOMPARE(view->Store().ActivePoints().size(), std::size_t{1});
        QVERIFY(QApplication::activePopupWidget() == nullptr);

        Command(kav::ui::ID_APP_ABOUT)->trigger();
        QCOMPARE(m_prompts->Kinds(), QStringList{QStringLiteral("about")});
        Command(kav::ui::ID_POINTS_NEW)->trigger();
        QCOMPARE(m_prompts->asked.last().text, QStringLiteral("Czy wyczyścić wszystko?"));
    }

    // A key runs its entry's handler, questions and all.
    void standardKeysRunTheirCommands_data()
    {
        QTest::addColumn<QKeySequence>("key");
        QTest::addColumn<int>("id");
        QTest::addColumn<QStringList>("asked");
        QTest::addColumn<std::size_t>("points");
        QTest::addColumn<bool>("open");
        QTest::newRow("New") << QKeySequence("Ctrl+N") << int(kav::ui::ID_POINTS_NEW) << QStringList{"question"}
                             << std::size_t{2} << true;
        QTest::newRow("Open") << QKeySequence("Ctrl+O") << int(kav::ui::ID_POINTS_OPEN) << QStringList{"openPath"}
                              << std::size_t{2} << true;
        QTest::newRow("Save") << QKeySequence("Ctrl+S") << int(kav::ui::ID_POINTS_SAVE) << QStringList{"format"}
                              << std::size_t{2} << true;
        QTest::newRow("Undo") << QKeySequence("Ctrl+Z") << int(kav::ui::ID_UNDO_POINT) << QStringList()
                              << std::size_t{1} << true;
        QTest::newRow("Exit") << QKeySequence("Ctrl+Q") << int(kav::ui::ID_APP_EXIT) << QStringList() << std::size_t{2}
                              << false;
    }
    void standardKeysRunTheirCommands()
    {
        QFETCH(QKeySequence, key);
        QFETCH(int, id);
        QFETCH(QStringList, asked);
        QFETCH(std::size_t, points);
        QFETCH(bool, open);
        QCOMPARE(Command(id)->shortcut(), key);
        QVERIFY(m_frame->View()->Apply(kav::PointChange::Append({10, 10})));
        QVERIFY(m_frame->View()->Apply(kav::PointChange::Append({20, 20})));
        m_frame->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_frame));
        QTest::keySequence(m_frame->View(), key);
        QCOMPARE(m_prompts->Kinds(), asked);
        QCOMPARE(m_frame->View()->Store().ActivePoints().size(), points);
        QTRY_COMPARE(m_frame->isVisible(), open);
    }

    void readoutPanesStartBlankAndKeepTheirWidth()
    {
        QLabel* x = m_frame->Pane(kav::ui::ID_INDICATOR_X);
        QLabel* y = m_frame->Pane(kav::ui::ID_INDICATOR_Y);
        QLabel* count = m_frame->Pane(kav::ui::ID_INDICATOR_COUNT);
        QVERIFY(x && y && count);
        QCOMPARE(x->text(), QString(15, u' '));
        QCOMPARE(y->text(), QString(15, u' '));
        QCOMPARE(count->text(), QString(30, u' '));
        const QList<int> widths = {x->width(), y->width(), count->width()};
        // Six-digit readouts fit their panes.
        QVERIFY(x->fontMetrics().horizontalAdvance(QStringLiteral("x=123456")) <= x->contentsRect().width());
        QVERIFY(count->fontMetrics().horizontalAdvance(QStringLiteral(" punktów: 123456"))
                <= count->contentsRect().width());

        QTest::mouseMove(m_frame->View(), QPoint(12, 34));
        QCOMPARE(x->text(), QStringLiteral("x=12"));
        QCOMPARE(y->text(), QStringLiteral("y=34"));
        QCOMPARE(count->text(), QStringLiteral(" punktów: 0"));
        // A screen reader gets a name, and the text as the description.
        QCOMPARE((QStringList{x->accessibleName(), y->accessibleName(), count->accessibleName()}),
                 (QStringList{QStringLiteral("Położenie x"), QStringLiteral("Położenie y"),
                              QStringLiteral("Liczba punktów")}));
        QCOMPARE((QStringList{x->accessibleDescription(), y->accessibleDescription(), count->accessibleDescription()}),
                 (QStringList{x->text(), y->text(), count->text()}));

        m_frame->resize(900, 700);
        QTRY_COMPARE(m_frame->statusBar()->width(), m_frame->width());
        QCOMPARE((QList<int>{x->width(), y->width(), count->width()}), widths);
    }

    void exitClosesWithoutAsking()
    {
        QVERIFY(m_frame->View()->Apply(kav::PointChange::Append({5, 5})));
        Command(kav::ui::ID_APP_EXIT)->trigger();
        QTRY_VERIFY(!m_frame->isVisible());
        QVERIFY(m_prompts->asked.isEmpty());
    }

    void aboutBoxShowsAuthorAndVersion()
    {
        for (const int key : {int(Qt::Key_Return), int(Qt::Key_Escape), 0}) {
            kav::CAboutBox box;
            QCOMPARE(box.windowTitle(), QStringLiteral("About kav"));
            auto* text = box.findChild<QLabel*>(QStringLiteral("aboutText"));
            QVERIFY(text);
            QCOMPARE(text->text(), QStringLiteral("Autor: Zespół KAV \n\nWersja: 1.0.0b"));
            auto* icon = box.findChild<QLabel*>(QStringLiteral("aboutIcon"));
            QVERIFY(icon && !icon->pixmap().isNull());
            auto* ok = box.findChild<QPushButton*>(QStringLiteral("aboutOk"));
            QVERIFY(ok && ok->isDefault());
            QCOMPARE(ok->text(), QStringLiteral("OK"));

            box.show();
            QVERIFY(QTest::qWaitForWindowExposed(&box));
            if (key != 0)
                QTest::keyClick(&box, Qt::Key(key));
            else
                QTest::mouseClick(ok, Qt::LeftButton);
            QTRY_VERIFY(!box.isVisible());
        }
    }
};

QTEST_MAIN(TestMainFrame)
#include "tst_main_frame.moc"
