#include "app/kav_app.h"
#include "app/polish_file_columns.h"
#include "app/qt_prompts.h"
#include "res/strings.h"
#include "view/kav_view.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QFileSystemModel>
#include <QProgressDialog>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

using kav::CQtPrompts;

class TestQtPrompts : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { kav::CKavApp::SetUpApplication(*QCoreApplication::instance()); }

    // The dialog of a load or a save appears after half a second whatever
    // the source, lets the window repaint meanwhile, and its Cancel gets
    // through. A save's bar counts points, a load's bytes.
    void theLoadProgressShowsAndCancels_data()
    {
        QTest::addColumn<bool>("saving");
        QTest::addColumn<qint64>("total");
        QTest::addColumn<int>("maximum");
        QTest::addColumn<int>("value");
        constexpr qint64 kMiB = 1048576;
        QTest::newRow("known size") << false << 10 * kMiB << 1000 << 500;
        QTest::newRow("device or pipe") << false << qint64{-1} << 0 << -1;
        QTest::newRow("file that grew") << false << 1 * kMiB << 0 << -1;
        QTest::newRow("save") << true << qint64{2469134} << 1000 << 500;
    }
    void theLoadProgressShowsAndCancels()
    {
        QFETCH(bool, saving);
        QFETCH(qint64, total);
        QFETCH(int, maximum);
        QFETCH(int, value);
        QWidget window;
        window.resize(300, 200);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        CQtPrompts prompts;
        auto progress = saving
            ? prompts.StartProgress(&window, kav::ProgressWork::Saving, kav::ui::kSavingText, total)
            : prompts.StartProgress(&window, kav::ProgressWork::Loading, kav::ui::kLoadingText, total);
        auto* dialog = window.findChild<QProgressDialog*>(QStringLiteral("progressDialog"));
        QVERIFY(dialog);
        QElapsedTimer clock;
        clock.start();
        while (!dialog->isVisible() && clock.elapsed() < 3000) {
            QVERIFY(progress->Update(5 * 1048576, 1234567));
            QTest::qWait(10); // the event loop shows it, as it runs behind a job
        }
        QVERIFY(dialog->isVisible());
        QVERIFY2(clock.elapsed() >= 400, "shown before half a second");
        QCOMPARE(dialog->maximum(), maximum);
        if (maximum != 0)
            QCOMPARE(dialog->value(), value);
        const QLocale polish(QLocale::Polish);
        QVERIFY2(dialog->labelText().contains(QStringLiteral("5,0 MB")), qPrintable(dialog->labelText()));
        QCOMPARE(dialog->windowTitle(), saving ? kav::ui::kSavingCaption : kav::ui::kLoadingCaption);
        QVERIFY2(dialog->labelText().contains(saving ? kav::ui::kSavingProgressText.arg(QStringLiteral("5,0"))
                                                     : polish.toString(1234567)),
                 qPrintable(dialog->labelText()));

        QTest::mouseClick(dialog->findChild<QPushButton*>(), Qt::LeftButton);
        QVERIFY(!progress->Update(6 * 1048576, 1234568));
    }

    void theFileDialogWritesSizesAndDatesInPolish()
    {
        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("punkty.txt")));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray(2000, '7')) == 2000);
        file.close();
        const QDateTime modified(QDate(2026, 3, 14), QTime(15, 9));
        QVERIFY(file.open(QIODevice::ReadWrite) && file.setFileTime(modified, QFileDevice::FileModificationTime));
        file.close();

        QFileSystemModel files;
        QSignalSpy loaded(&files, &QFileSystemModel::directoryLoaded);
        files.setRootPath(dir.path());
        QVERIFY(loaded.wait(5000));
        kav::PolishFileColumns columns;
        columns.setSourceModel(&files);
        const QModelIndex name = columns.mapFromSource(files.index(file.fileName()));
        QCOMPARE(name.siblingAtColumn(1).data().toString(), QStringLiteral("1,95 KiB"));
        QCOMPARE(name.siblingAtColumn(3).data().toString(), QStringLiteral("14.03.2026 15:09"));
        QCOMPARE(name.data().toString(), QStringLiteral("punkty.txt"));
    }

    // A change that would free the points under the listing (its index
    // still reading them) closes the listing first; the command then ends.
    void aChangeUnderTheListingClosesItFirst()
    {
        CQtPrompts prompts;
        kav::CKavView view(prompts);
        view.resize(300, 200);
        kav::PointStore many;
        for (int i = 0; i < 3000000; ++i)
            QVERIFY(many.AppendPoint({i % 300, i / 300}));
        QVERIFY(view.Apply(kav::PointChange::AppendAll(many)));
        bool changed = false;
        QTimer::singleShot(0, &view, [&] {
            auto* listing = view.findChild<QDialog*>();
            QVERIFY(listing && listing->isVisible());
            kav::PointStore other;
            QVERIFY(other.AppendPoint({7, 8}));
            changed = view.Apply(kav::PointChange::ReplaceAll(other));
        });
        view.OnShowCoords(); // returns once the listing has closed
        QVERIFY(changed);
        QCOMPARE(view.Store().ActivePoints().size(), std::size_t{1});
        QVERIFY(!view.CommandRunning());
    }
};

QTEST_MAIN(TestQtPrompts)
#include "tst_qt_prompts.moc"
