#include "exchange/coord_list_dlg.h"
#include "exchange/coord_listing.h"
#include "exchange/listing_field.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

#include <memory>

using kav::CCoordListDlg;
using kav::Point;

namespace {

std::vector<Point> ManyPoints(int count)
{
    std::vector<Point> points;
    for (int i = 0; i < count; ++i)
        points.push_back({(i * 37) % 1301 - 300, (i * 91) % 977});
    return points;
}

const Point kCentre{88, 47};

// Presses each key: one character is typed, anything longer is a key name.
void Press(QWidget* field, const QStringList& keys)
{
    for (const QString& key : keys) {
        if (key.size() == 1)
            QTest::keyClicks(field, key);
        else
            QTest::keySequence(field, QKeySequence::fromString(key));
    }
}

// `text` as the field should lay it out: each typed line break starts a
// line, and every line holds `columns` characters but the last of each.
QStringList Wrapped(const QString& text, int columns)
{
    QStringList lines;
    for (const QString& paragraph : text.split(u'\n')) {
        for (qsizetype at = 0; at < paragraph.size() || at == 0; at += columns)
            lines << paragraph.mid(at, columns);
    }
    return lines;
}

QStringList FieldLines(kav::CListingField* field)
{
    QStringList lines;
    for (std::int64_t line = 0; line < field->LineCount(); ++line)
        lines << field->LineText(line);
    return lines;
}

// A dialog with a listing of many lines, shown, its field focused.
struct ShownListing {
    explicit ShownListing(int count = 2000)
        : points(ManyPoints(count))
        , text(QString::fromStdString(kav::FormatListing(points, kCentre.x, kCentre.y)))
    {
        dialog.SetListing(points, kCentre);
        dialog.show();
        field = dialog.TextField();
        field->setFocus();
    }
    std::vector<Point> points;
    QString text;
    CCoordListDlg dialog;
    kav::CListingField* field = nullptr;
};

} // namespace

class TestCoordListDlg : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void listingShowsItsTextInAnEditableWrappingField()
    {
        CCoordListDlg dialog;
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Współrzędne"));
        const std::vector<Point> points = {{200, 150}, {0, 0}};
        dialog.SetListing(points, {200, 150});
        kav::CListingField* field = dialog.TextField();
        QCOMPARE(field->toPlainText(), QStringLiteral("0,0,-200,-150"));
        QCOMPARE(field->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff); // it wraps instead
        auto* close = dialog.findChild<QPushButton*>(QStringLiteral("close"));
        QCOMPARE(close->text(), QStringLiteral("Wyjście"));
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QCOMPARE(QApplication::focusWidget(), close);
        QTest::keyClicks(field, "abc"); // edits are allowed, and read by nobody
        QCOMPARE(field->toPlainText(), QStringLiteral("abc0,0,-200,-150"));
        dialog.SetListing(points, {200, 150});
        QCOMPARE(field->toPlainText(), QStringLiteral("0,0,-200,-150"));
        QTest::mouseClick(close, Qt::LeftButton);
        QTRY_VERIFY(!dialog.isVisible());
    }

    // A listing of many lines: it wraps as one line would at the field's
    // width, and what is copied is the listing itself.
    void aLongListingWrapsAsOneLineAndCopiesExactly()
    {
        ShownListing shown(30000);
        QVERIFY(QTest::qWaitForWindowExposed(&shown.dialog));
        kav::CListingField* field = shown.field;
        const int columns = field->Columns();
        QVERIFY(columns > 10);
        // Within a few characters of the field's width, never beyond it.
        const qreal advance = QFontMetricsF(field->font()).horizontalAdvance(u'0');
        QVERIFY(columns * advance <= field->viewport()->width());
        QVERIFY((columns + 3) * advance > field->viewport()->width());
        QCOMPARE(FieldLines(field), Wrapped(shown.text, columns));

        QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(field, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), shown.text);
    }

    // Selections made with the keys, in lines and characters of the
    // listing; a line of -1 counts from the end of the text, and one of
    // 1000 or more counts pages from 1000.
    void keysMoveAndSelect_data()
    {
        QTest::addColumn<QStringList>("keys");
        QTest::addColumn<QPoint>("from"); // x: characters, y: lines
        QTest::addColumn<QPoint>("to");
        QTest::addRow("shift right twice") << QStringList{"Shift+Right", "Shift+Right"} << QPoint(0, 0) << QPoint(2, 0);
        QTest::addRow("shift down") << QStringList{"Shift+Down"} << QPoint(0, 0) << QPoint(0, 1);
        QTest::addRow("down keeps the column")
            << QStringList{"Right", "Right", "Down", "Down", "Shift+Up"} << QPoint(2, 1) << QPoint(2, 2);
        QTest::addRow("to the end of a line")
            << QStringList{"Down", "Right", "Shift+End"} << QPoint(1, 1) << QPoint(0, 2);
        QTest::addRow("home after end") << QStringList{"Down", "End", "Left", "Shift+Home"} << QPoint(0, 1)
                                        << QPoint(-1, 2);
        QTest::addRow("left ends a selection at its start")
            << QStringList{"Right", "Shift+Right", "Shift+Right", "Left", "Shift+Right"} << QPoint(1, 0)
            << QPoint(2, 0);
        QTest::addRow("up from the top goes to the start")
            << QStringList{"Right", "Right", "Up", "Shift+Right"} << QPoint(0, 0) << QPoint(1, 0);
        QTest::addRow("last character") << QStringList{"Ctrl+End", "Shift+Left"} << QPoint(-1, -1) << QPoint(0, -1);
        QTest::addRow("down from the last line goes to the end")
            << QStringList{"Ctrl+End", "Up", "Down", "Down", "Shift+Left"} << QPoint(-1, -1) << QPoint(0, -1);
        QTest::addRow("everything backwards")
            << QStringList{"Ctrl+End", "Ctrl+Shift+Home"} << QPoint(0, 0) << QPoint(0, -1);
        QTest::addRow("a page down") << QStringList{"Shift+PgDown", "Shift+PgDown", "Shift+PgUp"} << QPoint(0, 0)
                                     << QPoint(0, 1001);
    }

    void keysMoveAndSelect()
    {
        QFETCH(QStringList, keys);
        QFETCH(QPoint, from);
        QFETCH(QPoint, to);
        ShownListing shown;
        QVERIFY(QTest::qWaitForWindowExposed(&shown.dialog));
        const int columns = shown.field->Columns();
        const int page = shown.field->verticalScrollBar()->pageStep();
        QVERIFY(page > 1);
        auto offset = [&](QPoint at) {
            const qsizetype line = at.y() >= 1000 ? (at.y() - 1000) * page : at.y();
            return at.y() < 0 ? shown.text.size() + at.x() : line * columns + at.x();
        };
        Press(shown.field, keys);
        const qsizetype start = offset(from);
        QCOMPARE(shown.field->SelectedText(), shown.text.mid(start, offset(to) - start));
        QTest::keyClick(shown.field, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), shown.text.mid(start, offset(to) - start));
    }

    // The mouse picks the character boundary nearest to it; in characters
    // and lines of the field.
    void mouseSelects_data()
    {
        QTest::addColumn<QPoint>("press");
        QTest::addColumn<QPoint>("release");
        QTest::addColumn<bool>("shift"); // a shift-click at `release` instead of a drag
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to"); // in lines times 1000 plus characters
        QTest::addRow("drag down") << QPoint(0, 0) << QPoint(3, 2) << false << 0 << 2003;
        QTest::addRow("drag back") << QPoint(3, 2) << QPoint(1, 0) << false << 1 << 2003;
        QTest::addRow("shift click") << QPoint(5, 0) << QPoint(0, 1) << true << 5 << 1000;
        QTest::addRow("past the end of the text") << QPoint(0, 1) << QPoint(900, 40) << false << 1000 << -1;
    }

    void mouseSelects()
    {
        QFETCH(QPoint, press);
        QFETCH(QPoint, release);
        QFETCH(bool, shift);
        QFETCH(int, from);
        QFETCH(int, to);
        ShownListing shown(20); // fewer lines than the field shows
        QVERIFY(QTest::qWaitForWindowExposed(&shown.dialog));
        kav::CListingField* field = shown.field;
        const int columns = field->Columns();
        const qreal advance = QFontMetricsF(field->font()).horizontalAdvance(u'0');
        const int height = QFontMetrics(field->font()).lineSpacing();
        auto at = [&](QPoint c) { return QPoint(qRound(4 + c.x() * advance), 4 + c.y() * height + height / 2); };
        QWidget* viewport = field->viewport();
        QTest::mousePress(viewport, Qt::LeftButton, {}, at(press));
        if (shift) {
            QTest::mouseRelease(viewport, Qt::LeftButton, {}, at(press));
            QTest::mouseClick(viewport, Qt::LeftButton, Qt::ShiftModifier, at(release));
        } else {
            QMouseEvent move(QEvent::MouseMove, at(release), viewport->mapToGlobal(at(release)), Qt::NoButton,
                             Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(viewport, &move);
            QTest::mouseRelease(viewport, Qt::LeftButton, {}, at(release));
        }
        auto offset = [&](int o) { return o < 0 ? shown.text.size() : qsizetype{o / 1000} * columns + o % 1000; };
        QCOMPARE(field->SelectedText(), shown.text.mid(offset(from), offset(to) - offset(from)));
        QCOMPARE(QApplication::focusWidget(), field);
    }

    void contextMenuCopiesAndSelectsAll()
    {
        ShownListing shown;
        QTest::keySequence(shown.field, QKeySequence::fromString("Shift+Down"));
        std::unique_ptr<QMenu> menu(shown.field->CreateContextMenu(nullptr));
        menu->findChild<QAction*>(QStringLiteral("copy"))->trigger();
        QCOMPARE(QGuiApplication::clipboard()->text(), shown.text.left(shown.field->Columns()));

        menu.reset(shown.field->CreateContextMenu(nullptr));
        menu->findChild<QAction*>(QStringLiteral("selectAll"))->trigger();
        menu.reset(shown.field->CreateContextMenu(nullptr));
        menu->findChild<QAction*>(QStringLiteral("copy"))->trigger();
        QCOMPARE(QGuiApplication::clipboard()->text(), shown.text);

        QTest::keyClick(shown.field, Qt::Key_Home, Qt::ControlModifier);
        menu.reset(shown.field->CreateContextMenu(nullptr));
        QVERIFY(!menu->findChild<QAction*>(QStringLiteral("copy"))->isEnabled());
    }

    void typingEditsTheText_data()
    {
        QTest::addColumn<QStringList>("keys");
        QTest::addColumn<QString>("text");
        QTest::addRow("type at the start") << QStringList{"a", "b"} << "ab0,0,-200,-150";
        QTest::addRow("type between typed") << QStringList{"a", "b", "Left", "c"} << "acb0,0,-200,-150";
        QTest::addRow("backspace at the start") << QStringList{"Backspace"} << "0,0,-200,-150";
        QTest::addRow("delete at the end") << QStringList{"Ctrl+End", "Del"} << "0,0,-200,-150";
        QTest::addRow("delete") << QStringList{"Del"} << ",0,-200,-150";
        QTest::addRow("backspace") << QStringList{"Right", "Right", "Backspace"} << "00,-200,-150";
        QTest::addRow("type over a selection") << QStringList{"Shift+Right", "Shift+Right", "x"} << "x0,-200,-150";
        QTest::addRow("type at the end") << QStringList{"Ctrl+End", "!"} << "0,0,-200,-150!";
        QTest::addRow("cut and paste") << QStringList{"Shift+Right", "Shift+Right", "Ctrl+X", "Ctrl+End", "Ctrl+V"}
                                       << "0,-200,-1500,";
        QTest::addRow("return starts a line") << QStringList{"Right", "Right", "Return"} << "0,\n0,-200,-150";
        QTest::addRow("backspace joins lines")
            << QStringList{"Right", "Right", "Return", "Backspace"} << "0,0,-200,-150";
        QTest::addRow("everything deleted") << QStringList{"Ctrl+A", "Del", "Del", "Backspace"} << "";
    }

    void typingEditsTheText()
    {
        QFETCH(QStringList, keys);
        QFETCH(QString, text);
        CCoordListDlg dialog;
        const std::vector<Point> points = {{200, 150}, {0, 0}};
        dialog.SetListing(points, {200, 150});
        Press(dialog.TextField(), keys);
        QCOMPARE(dialog.TextField()->toPlainText(), text);
        QCOMPARE(FieldLines(dialog.TextField()), Wrapped(text, dialog.TextField()->Columns()));
    }

    // Edits in a listing of many lines move every line after them.
    void editsRewrapTheLinesAfterThem()
    {
        ShownListing shown;
        const int columns = shown.field->Columns();
        Press(shown.field, {"x", "Down", "Down", "Return", "Shift+Down", "Shift+Down", "y", "Ctrl+End", "Backspace"});
        QString text = shown.text;
        text.insert(0, u'x');
        text.insert(2 * columns + 1, u'\n');
        text.replace(2 * columns + 2, 2 * columns, u'y');
        text.chop(1);
        QCOMPARE(FieldLines(shown.field), Wrapped(text, columns));
        QTest::keyClick(shown.field, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(shown.field, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), text);
    }
};

QTEST_MAIN(TestCoordListDlg)
#include "tst_coord_list_dlg.moc"
