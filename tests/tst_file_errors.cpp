#include "exchange/file_errors.h"
#include "res/strings.h"

#include <QRegularExpression>
#include <QTest>

#include <cerrno>
#include <cstring>

using kav::FileAccess;
using kav::SystemErrorReason;

class TestFileErrors : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Every error that opening, reading, writing, renaming or syncing a file
    // can give has a reason of its own, in Polish.
    void everyReasonIsPolish_data()
    {
        QTest::addColumn<int>("error");
        QTest::addColumn<int>("access");
        for (const int access : {int(FileAccess::Read), int(FileAccess::Write)}) {
            const char* way = access == int(FileAccess::Read) ? "read" : "write";
            QTest::addRow("EACCES %s", way) << EACCES << access;
            for (const kav::ui::SystemErrorText& entry : kav::ui::kSystemErrorTexts)
                QTest::addRow("%s %s", strerrorname_np(entry.error), way) << entry.error << access;
        }
    }
    void everyReasonIsPolish()
    {
        QFETCH(int, error);
        QFETCH(int, access);
        const QString reason = SystemErrorReason(error, FileAccess(access));
        QVERIFY(!reason.isEmpty());
        QVERIFY(reason.endsWith(u'.'));
        QVERIFY2(reason != QString::fromLocal8Bit(std::strerror(error)), qPrintable(reason));
        static const QRegularExpression english(
            QStringLiteral("\\b(no|not|such|file|directory|permission|denied|error|too|device|space|operation)\\b"),
            QRegularExpression::CaseInsensitiveOption);
        QVERIFY2(!english.match(reason).hasMatch(), qPrintable(reason));
        QVERIFY2(reason != kav::ui::kReasonUnknown.arg(error), "a known error falls back to its number");
    }

    void anUnknownErrorIsToldByItsNumber()
    {
        QCOMPARE(SystemErrorReason(9999, FileAccess::Read), QStringLiteral("Błąd systemu numer 9999."));
    }
};

QTEST_MAIN(TestFileErrors)
#include "tst_file_errors.moc"
