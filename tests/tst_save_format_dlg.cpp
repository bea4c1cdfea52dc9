#include "exchange/cp1250.h"
#include "exchange/save_format_dlg.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

using kav::CSaveFormatDlg;

namespace {

// Types text as key presses; QTest::keyClicks only knows ASCII.
void Type(QWidget* widget, const QString& text)
{
    for (const QChar c : text) {
        if (c.unicode() < 0x80) {
            QTest::keyClick(widget, c.toLatin1());
        } else {
            QTest::sendKeyEvent(QTest::Press, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
            QTest::sendKeyEvent(QTest::Release, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
        }
    }
}

} // namespace

class TestSaveFormatDlg : public QObject {
    Q_OBJECT

    struct Result {
        int code;
        int sepX, sepY, order;
    };

    // Opens the dialog, lets `act` use it as a user would, then presses OK
    // (or whatever `act` pressed) and reads the members.
    template <class Act> Result Run(Act act, bool pressOk = true)
    {
        CSaveFormatDlg dialog;
        dialog.show();
        dialog.activateWindow();
        if (!QTest::qWaitForWindowActive(&dialog))
            qFatal("dialog not shown");
        act(dialog);
        if (pressOk && dialog.isVisible())
            QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("ok")), Qt::LeftButton);
        return {dialog.result(), static_cast<unsigned char>(dialog.m_sepX), static_cast<unsigned char>(dialog.m_sepY),
                dialog.m_order};
    }

    static void Choose(CSaveFormatDlg& dialog, const char* name)
    {
        QTest::mouseClick(dialog.findChild<QRadioButton*>(QLatin1String(name)), Qt::LeftButton);
    }

private Q_SLOTS:
    void presetsAndOrders_data()
    {
        QTest::addColumn<QString>("separator");
        QTest::addColumn<QString>("order");
        QTest::addColumn<int>("sep");
        QTest::addColumn<int>("orderValue");
        QTest::newRow("space, clicks") << "sepSpace"
                                       << "orderClicks" << 32 << 1;
        QTest::newRow("space, reverse") << "sepSpace"
                                        << "orderReverse" << 32 << 2;
        QTest::newRow("comma, clicks") << "sepComma"
                                       << "orderClicks" << 44 << 1;
        QTest::newRow("comma, reverse") << "sepComma"
                                        << "orderReverse" << 44 << 2;
    }
    void presetsAndOrders()
    {
        QFETCH(QString, separator);
        QFETCH(QString, order);
        QFETCH(int, sep);
        QFETCH(int, orderValue);
        const Result r = Run([&](CSaveFormatDlg& d) {
            Choose(d, qPrintable(separator));
            Choose(d, qPrintable(order));
        });
        QCOMPARE(r.code, int(QDialog::Accepted));
        QCOMPARE(r.sepX, sep);
        QCOMPARE(r.sepY, sep);
        QCOMPARE(r.order, orderValue);
    }

    void opensWithSpaceAndClickOrderAndLockedFields()
    {
        CSaveFormatDlg dialog;
        QVERIFY(dialog.m_radioSpace->isChecked());
        QVERIFY(dialog.m_radioClicks->isChecked());
        QVERIFY(dialog.m_editX->isReadOnly() && dialog.m_editY->isReadOnly());
        QVERIFY(dialog.m_editX->text().isEmpty() && dialog.m_editY->text().isEmpty());
        QVERIFY(dialog.windowFlags() & Qt::FramelessWindowHint);
        for (QRadioButton* radio : dialog.findChildren<QRadioButton*>())
            QCOMPARE(radio->focusPolicy(), Qt::NoFocus);

        // Confirming at once, with Enter on the default button.
        const Result r = Run([](CSaveFormatDlg& d) { QTest::keyClick(&d, Qt::Key_Return); }, false);
        QCOMPARE(r.code, int(QDialog::Accepted));
        QCOMPARE((QList<int>{r.sepX, r.sepY, r.order}), (QList<int>{32, 32, 1}));
    }

    void tabMovesBetweenButtonsAndFields()
    {
        CSaveFormatDlg dialog;
        dialog.show();
        dialog.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        QCOMPARE(QApplication::focusWidget(), dialog.findChild<QPushButton*>(QStringLiteral("ok")));
        const QList<QWidget*> expected = {dialog.findChild<QPushButton*>(QStringLiteral("cancel")), dialog.m_editX,
                                          dialog.m_editY, dialog.findChild<QPushButton*>(QStringLiteral("ok"))};
        for (QWidget* next : expected) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), next);
        }
    }

    void userSeparators()
    {
        auto typeBoth = [](const QString& x, const QString& y) {
            return [x, y](CSaveFormatDlg& d) {
                Choose(d, "sepUser");
                Type(d.m_editX, x);
                Type(d.m_editY, y);
            };
        };
        Result r = Run(typeBoth(";", "|"));
        QCOMPARE((QList<int>{r.sepX, r.sepY}), (QList<int>{59, 124}));
        r = Run(typeBoth("", ""));
        QCOMPARE((QList<int>{r.sepX, r.sepY}), (QList<int>{0, 0}));
        r = Run(typeBoth(";", ""));
        QCOMPARE((QList<int>{r.sepX, r.sepY}), (QList<int>{59, 0}));
        r = Run(typeBoth(QStringLiteral("ą"), QStringLiteral("€")));
        QCOMPARE((QList<int>{r.sepX, r.sepY}), (QList<int>{0xB9, 0x80}));
        r = Run(typeBoth("7", "x"));
        QCOMPARE((QList<int>{r.sepX, r.sepY}), (QList<int>{'7', 'x'}));
    }

    void fieldsTakeOneWindows1250Character()
    {
        CSaveFormatDlg dialog;
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QTest::keyClicks(dialog.m_editX, ";"); // locked until the user choice
        QVERIFY(dialog.m_editX->text().isEmpty());
        Choose(dialog, "sepUser");
        Type(dialog.m_editX, QStringLiteral("中"));
        QVERIFY(dialog.m_editX->text().isEmpty());
        QTest::keyClicks(dialog.m_editX, ";|");
        QCOMPARE(dialog.m_editX->text(), QStringLiteral(";"));
    }

    void fieldsStayOpenAfterAPresetIsChosenAgain()
    {
        QLineEdit* fieldX = nullptr;
        const Result r = Run([&](CSaveFormatDlg& d) {
            Choose(d, "sepUser");
            QTest::keyClicks(d.m_editX, ";");
            Choose(d, "sepComma");
            QVERIFY(!d.m_editX->isReadOnly());
            QCOMPARE(d.m_editX->text(), QStringLiteral(";"));
            fieldX = d.m_editX;
        });
        QVERIFY(fieldX);
        QCOMPARE((QList<int>{r.sepX, r.sepY}), (QList<int>{44, 44}));
    }

    void cancelSetsNothing()
    {
        for (const bool escape : {true, false}) {
            const Result r = Run(
                [escape](CSaveFormatDlg& d) {
                    Choose(d, "sepComma");
                    Choose(d, "orderReverse");
                    if (escape)
                        QTest::keyClick(&d, Qt::Key_Escape);
                    else
                        QTest::mouseClick(d.findChild<QPushButton*>(QStringLiteral("cancel")), Qt::LeftButton);
                },
                false);
            QCOMPARE(r.code, int(QDialog::Rejected));
            QCOMPARE((QList<int>{r.sepX, r.sepY, r.order}), (QList<int>{32, 32, 1})); // as constructed
        }
    }

    void windows1250TableRoundTrips()
    {
        int mapped = 0;
        for (int byte = 0; byte < 256; ++byte) {
            const char32_t c = kav::FromWindows1250(static_cast<unsigned char>(byte));
            if (c == 0 && byte != 0)
                continue; // one of the five gaps
            QCOMPARE(int(kav::ToWindows1250(c).value()), byte);
            ++mapped;
        }
        QCOMPARE(mapped, 251);
        QCOMPARE(int(kav::ToWindows1250(U'ł').value()), 0xB3);
        QCOMPARE(int(kav::ToWindows1250(U'Ż').value()), 0xAF);
        QVERIFY(!kav::ToWindows1250(U'ж'));
    }
};

QTEST_MAIN(TestSaveFormatDlg)
#include "tst_save_format_dlg.moc"
