#include "exchange/coord_list_dlg.h"
#include "exchange/coord_listing.h"
#include "exchange/listing_field.h"

#include <QAbstractTextDocumentLayout>
#include <QClipboard>
#include <QGuiApplication>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>

using kav::CCoordListDlg;
using kav::Point;

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
        QVERIFY(!field->isReadOnly());
        QCOMPARE(field->lineWrapMode(), QPlainTextEdit::WidgetWidth);
        auto* close = dialog.findChild<QPushButton*>(QStringLiteral("close"));
        QCOMPARE(close->text(), QStringLiteral("Wyjście"));
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QCOMPARE(QApplication::focusWidget(), close);
        QTest::keyClicks(field, "abc"); // edits are allowed, and read by nobody
        QTest::mouseClick(close, Qt::LeftButton);
        QTRY_VERIFY(!dialog.isVisible());
    }

    // A listing of many lines: it wraps as one line would, and what is
    // copied is the listing itself, with none of the field's own breaks.
    void aLongListingWrapsAsOneLineAndCopiesExactly()
    {
        std::vector<Point> points;
        for (int i = 0; i < 30000; ++i)
            points.push_back({(i * 37) % 1301 - 300, (i * 91) % 977});
        const Point centre{88, 47};
        CCoordListDlg dialog;
        dialog.SetListing(points, centre);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));

        kav::CListingField* field = dialog.TextField();
        const int columns = field->Columns();
        QVERIFY(columns > 10);
        QTextDocument* document = field->document();
        QVERIFY(document->blockCount() > 2);
        for (const QTextBlock& block : {document->firstBlock(), document->findBlockByNumber(1)}) {
            document->documentLayout()->blockBoundingRect(block); // lays it out
            QCOMPARE(block.layout()->lineCount(), kav::CListingField::kLinesPerParagraph);
            for (int line = 0; line < block.layout()->lineCount(); ++line)
                QCOMPARE(block.layout()->lineAt(line).textLength(), columns);
        }

        field->setFocus();
        QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(field, Qt::Key_C, Qt::ControlModifier);
        const std::string expected = kav::FormatListing(points, centre.x, centre.y);
        QCOMPARE(QGuiApplication::clipboard()->text(), QString::fromStdString(expected));
    }
};

QTEST_MAIN(TestCoordListDlg)
#include "tst_coord_list_dlg.moc"
