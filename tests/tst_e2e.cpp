// The real program in a real X server: Xvfb, xdotool for the mouse and the
// keyboard, ImageMagick's import for screenshots.

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {

constexpr QRgb kBlack = 0x000000;
constexpr QRgb kWhite = 0xFFFFFF;

QRgb Rgb(const QImage& image, QPoint p)
{
    return image.pixel(p) & 0xFFFFFF;
}

} // namespace

class TestEndToEnd : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;
    QProcess m_xvfb;
    QString m_display;
    QProcessEnvironment m_env;

    // Runs a tool against the display and returns what it printed.
    QByteArray Tool(const QString& program, const QStringList& arguments, int timeoutMs = 10000)
    {
        QProcess process;
        process.setProcessEnvironment(m_env);
        process.start(program, arguments);
        if (!process.waitForFinished(timeoutMs)) {
            process.kill();
            process.waitForFinished();
            qWarning("%s %s timed out", qPrintable(program), qPrintable(arguments.join(' ')));
            return {};
        }
        return process.readAllStandardOutput();
    }
    // The program's environment, with settings and recovery journals of
    // `name`'s own, which no other scenario sees.
    QProcessEnvironment ProgramEnvironment(const QString& name) const
    {
        QProcessEnvironment env = m_env;
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.filePath(name + QStringLiteral("/config")));
        env.insert(QStringLiteral("XDG_STATE_HOME"), m_home.filePath(name + QStringLiteral("/state")));
        return env;
    }
    QByteArray Xdotool(const QStringList& arguments) { return Tool(QStringLiteral("xdotool"), arguments); }

    // Each run of the program keeps its settings and its state apart from
    // every other run's.
    QProcessEnvironment RunEnvironment(QProcessEnvironment env)
    {
        static int run = 0;
        const QString dir = m_home.filePath(QStringLiteral("run%1").arg(++run));
        for (const char* name : {"XDG_CONFIG_HOME", "XDG_STATE_HOME"}) {
            const QString path = dir + u'/' + QString::fromLatin1(name).toLower();
            QDir().mkpath(path);
            env.insert(QString::fromLatin1(name), path);
        }
        return env;
    }

    QImage Screenshot()
    {
        const QByteArray ppm = Tool(QStringLiteral("import"), {"-window", "root", "ppm:-"});
        return QImage::fromData(ppm, "PPM").convertToFormat(QImage::Format_RGB32);
    }

    // Waits for a window whose name matches; returns its id.
    QString WaitForWindow(const QString& name)
    {
        for (int i = 0; i < 100; ++i) {
            const QByteArray ids = Xdotool({"search", "--name", name}).trimmed();
            if (!ids.isEmpty())
                return QString::fromLatin1(ids.split('\n').front());
            QTest::qWait(100);
        }
        return {};
    }

    QPoint WindowPosition(const QString& window)
    {
        QPoint at;
        for (const QByteArray& line : Xdotool({"getwindowgeometry", "--shell", window}).split('\n')) {
            if (line.startsWith("X="))
                at.setX(line.mid(2).toInt());
            if (line.startsWith("Y="))
                at.setY(line.mid(2).toInt());
        }
        return at;
    }

    void Click(QPoint at)
    {
        Xdotool({"mousemove", "--sync", QString::number(at.x()), QString::number(at.y()), "click", "1"});
    }

    void Keys(const QString& window, const QStringList& keys)
    {
        Xdotool(QStringList{"windowfocus", "--sync", window, "key"} + keys);
        QTest::qWait(300);
    }

    // A visible window of the program other than `except`, with its place.
    QRect OtherWindow(const QString& except, QString* id = nullptr)
    {
        for (int i = 0; i < 50; ++i) {
            for (const QByteArray& w :
                 Xdotool({"search", "--onlyvisible", "--classname", "kav"}).trimmed().split('\n')) {
                if (w.isEmpty() || QString::fromLatin1(w) == except)
                    continue;
                QRect place(WindowPosition(QString::fromLatin1(w)), QSize());
                for (const QByteArray& line :
                     Xdotool({"getwindowgeometry", "--shell", QString::fromLatin1(w)}).split('\n')) {
                    if (line.startsWith("WIDTH="))
                        place.setWidth(line.mid(6).toInt());
                    if (line.startsWith("HEIGHT="))
                        place.setHeight(line.mid(7).toInt());
                }
                if (id)
                    *id = QString::fromLatin1(w);
                return place;
            }
            QTest::qWait(100);
        }
        return {};
    }

    // Answers a question box from the keyboard: Return is Yes.
    void AnswerYes(const QString& caption)
    {
        const QString box = WaitForWindow(QStringLiteral("^%1$").arg(QRegularExpression::escape(caption)));
        QVERIFY2(!box.isEmpty(), qPrintable(caption + " did not appear"));
        Keys(box, {"Return"});
        QTRY_VERIFY_WITH_TIMEOUT(
            Xdotool({"search", "--name", QStringLiteral("^%1$").arg(QRegularExpression::escape(caption))})
                .trimmed()
                .isEmpty(),
            5000);
    }

    // Types a path into the file dialog with the given title and accepts it.
    void ChooseFile(const QString& title, const QString& path)
    {
        const QString dialog = WaitForWindow(QStringLiteral("^%1$").arg(title));
        QVERIFY2(!dialog.isEmpty(), qPrintable(title + " did not appear"));
        QTest::qWait(300);
        // A slow build may show the dialog before it takes keys, or open the
        // name field's completion list late so that it takes the Return:
        // then the name is typed anew and Return pressed again.
        const auto open = [&] {
            return !Xdotool({"search", "--name", QStringLiteral("^%1$").arg(title)}).trimmed().isEmpty();
        };
        for (int attempt = 0; attempt < 3 && open(); ++attempt) {
            Xdotool({"windowfocus", "--sync", dialog});
            Xdotool({"key", "ctrl+a"});
            Xdotool({"type", "--delay", "5", path});
            Xdotool({"key", "Return"});
            for (int wait = 0; wait < 30 && open(); ++wait)
                QTest::qWait(100);
        }
        QVERIFY2(!open(), qPrintable(title + " did not close"));
    }

private Q_SLOTS:
    void initTestCase()
    {
        for (const char* tool : {"Xvfb", "xdotool", "import", "xclip"})
            QVERIFY2(!QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty(),
                     qPrintable(QStringLiteral("%1 is missing: `make test` installs it").arg(QLatin1String(tool))));
        QVERIFY(m_home.isValid());

        // Xvfb picks a free display itself and tells its number, which no
        // other server, not even one still shutting down, can then take.
        // -noreset: a server resets when its last client leaves, and refuses
        // connections meanwhile; each xdotool call is such a client.
        m_xvfb.start(QStringLiteral("Xvfb"),
                     {"-displayfd", "1", "-noreset", "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
        QVERIFY(m_xvfb.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(m_xvfb.canReadLine(), 10000);
        const QByteArray number = m_xvfb.readLine().trimmed();
        QVERIFY2(!number.isEmpty(), "Xvfb did not report its display");
        m_display = QStringLiteral(":") + QString::fromLatin1(number);

        m_env = QProcessEnvironment::systemEnvironment();
        m_env.insert(QStringLiteral("DISPLAY"), m_display);
        m_env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        m_env.insert(QStringLiteral("HOME"), m_home.path());
        m_env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_home.path());
        QTRY_VERIFY_WITH_TIMEOUT(!Xdotool({"getdisplaygeometry"}).isEmpty(), 10000);
    }

    void cleanupTestCase()
    {
        m_xvfb.terminate();
        m_xvfb.waitForFinished(5000);
    }

    // The view: the white area under the window's menu bar.
    QPoint ViewOrigin(const QString& window)
    {
        const QPoint corner = WindowPosition(window);
        const QImage shot = Screenshot();
        int top = corner.y();
        while (!shot.isNull() && top < corner.y() + 100 && Rgb(shot, {corner.x() + 300, top}) != kWhite)
            ++top;
        return top < corner.y() + 100 ? QPoint(corner.x(), top) : QPoint();
    }

    QImage ViewShot(QPoint origin) { return Screenshot().copy(QRect(origin, QSize(600, 300))); }

    // Opens `path` through the menu and answers Yes to replacing the points.
    void OpenReplacing(const QString& window, const QString& path)
    {
        Keys(window, {"alt+p"});
        Keys(window, {"o"});
        ChooseFile(QString::fromUtf8("Otwórz"), path);
        AnswerYes(QString::fromUtf8("Usunąć?"));
    }

    // Starts the program and finds its window and the view's top left corner.
    void Start(QProcess& kav, const QStringList& arguments, const QProcessEnvironment& env, QString& window,
               QPoint& origin)
    {
        kav.setProcessEnvironment(RunEnvironment(env));
        kav.start(QStringLiteral(KAV_BINARY), arguments);
        QVERIFY(kav.waitForStarted());
        window = WaitForWindow(QStringLiteral("^KAV Edytor$"));
        QVERIFY2(!window.isEmpty(), "the main window did not appear");
        QTest::qWait(500);
        origin = ViewOrigin(window);
        QVERIFY2(!origin.isNull(), "no white drawing area found");
    }

    // The file's contents once the program has written it.
    QByteArray WrittenFile(const QString& path)
    {
        for (int i = 0; i < 50 && !QFile::exists(path); ++i)
            QTest::qWait(100);
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(not written)");
    }

    void WaitUntilGone(const QString& name)
    {
        QTRY_VERIFY_WITH_TIMEOUT(Xdotool({"search", "--name", name}).trimmed().isEmpty(), 10000);
    }

    void drawCloseSaveOpenAndListAFigure()
    {
        QProcess kav;
        kav.setProcessEnvironment(RunEnvironment(m_env));
        kav.start(QStringLiteral(KAV_BINARY), {});
        QVERIFY(kav.waitForStarted());

        const QString window = WaitForWindow(QStringLiteral("^KAV Edytor$"));
        QVERIFY2(!window.isEmpty(),
                 "the main window did not appear: " + kav.readAllStandardError()
                     + "\nXvfb: " + m_xvfb.readAllStandardError());
        QCOMPARE(Xdotool({"getwindowname", window}).trimmed(), QByteArray("KAV Edytor"));
        QTest::qWait(500);

        // The view is the white area under the menu bar.
        const QPoint corner = WindowPosition(window);
        QImage shot = Screenshot();
        QVERIFY(!shot.isNull());
        int top = corner.y();
        while (top < corner.y() + 100 && Rgb(shot, {corner.x() + 300, top}) != kWhite)
            ++top;
        QVERIFY2(top < corner.y() + 100, "no white drawing area found");
        const QPoint origin(corner.x(), top);

        const QPoint a = origin + QPoint(60, 60);
        const QPoint b = origin + QPoint(260, 80);
        const QPoint c = origin + QPoint(160, 240);
        Click(a);
        Click(b);
        Click(c);
        Click(a + QPoint(2, 2)); // near the first point: the join question

        const QString question = WaitForWindow(QString::fromUtf8("^Połączyć\\?$"));
        QVERIFY2(!question.isEmpty(), "the join question did not appear");
        Xdotool({"windowfocus", "--sync", question});
        Xdotool({"key", "Return"}); // Yes is the default button
        QTRY_VERIFY_WITH_TIMEOUT(Xdotool({"search", "--name", QString::fromUtf8("^Połączyć\\?$")}).trimmed().isEmpty(),
                                 5000);
        Xdotool({"mousemove", "--sync", QString::number(origin.x() + 400), QString::number(origin.y() + 300)});
        QTest::qWait(300);

        shot = Screenshot();
        shot.save(QDir::current().filePath(QStringLiteral("e2e-closed-figure.png")));
        // The segment from a to b, and the closing one from c back to a.
        QCOMPARE(Rgb(shot, a + QPoint(100, 10)), kBlack);
        QCOMPARE(Rgb(shot, (b + c) / 2), kBlack);
        QCOMPARE(Rgb(shot, (c + a) / 2), kBlack);
        // The end circle sits on a: outline, white inside over the joined ends.
        QCOMPARE(Rgb(shot, a + QPoint(-4, 0)), kBlack);
        QCOMPARE(Rgb(shot, a + QPoint(3, 0)), kBlack);
        QCOMPARE(Rgb(shot, a), kWhite);
        QCOMPARE(Rgb(shot, a + QPoint(2, 1)), kWhite);
        QCOMPARE(Rgb(shot, a + QPoint(40, 40)), kWhite);

        // Save through the real dialogs: the comma and the reverse order. The
        // radio buttons take no focus, so they are clicked where the layout,
        // given in dialog units, puts them.
        const QString saved = m_home.filePath(QStringLiteral("figure.txt"));
        Keys(window, {"alt+p"});
        Keys(window, {"s"});
        QString formatId;
        const QRect format = OtherWindow(window, &formatId);
        QVERIFY2(format.isValid(), "the save-format dialog did not appear");
        const double ux = format.width() / 177.0;
        const double uy = format.height() / 198.0;
        auto unit = [&](int x, int y) { return format.topLeft() + QPoint(qRound(x * ux), qRound(y * uy)); };
        Click(unit(24, 59)); // "Współrzędne odddzielone przecinkiem"
        Click(unit(21, 164)); // "Kolejność odwrotna do kliknięć myszki"
        Click(unit(86, 184)); // OK
        ChooseFile(QStringLiteral("Zachowaj jako"), saved);
        QCOMPARE(WrittenFile(saved), QByteArray("60,60,160,240,260,80,60,60"));

        // Clear, then open the file back.
        Keys(window, {"alt+p"});
        Keys(window, {"n"});
        AnswerYes(QStringLiteral("Nowy"));
        Keys(window, {"alt+p"});
        Keys(window, {"o"});
        ChooseFile(QString::fromUtf8("Otwórz"), saved);

        // The listing, from the bar: right of "Plik", then Return.
        Keys(window, {"alt+p"});
        Keys(window, {"Right"});
        Keys(window, {"Return"});
        const QString listing = WaitForWindow(QString::fromUtf8("^Współrzędne$"));
        QVERIFY2(!listing.isEmpty(), "the listing did not appear");
        Keys(listing, {"Tab", "ctrl+a", "ctrl+c"});
        const QByteArray listed = Tool(QStringLiteral("xclip"), {"-o", "-selection", "clipboard"}, 5000);
        // The points in file order, relative to the middle of the view.
        int bottom = origin.y();
        while (Rgb(shot, {origin.x() + 600, bottom}) == kWhite)
            ++bottom;
        const QPoint centre(640 / 2, (bottom - origin.y()) / 2);
        QStringList expected;
        for (const QPoint& p : {a, c, b, a})
            expected << QString::number(p.x() - origin.x() - centre.x())
                     << QString::number(p.y() - origin.y() - centre.y());
        QCOMPARE(QString::fromUtf8(listed), expected.join(','));
        Keys(listing, {"Escape"});

        // Quit through the menu: Plik, then Wyjście.
        Xdotool({"windowfocus", "--sync", window});
        Xdotool({"key", "alt+p"});
        QTest::qWait(300);
        Xdotool({"key", "w"});
        QVERIFY(kav.waitForFinished(10000));
        QCOMPARE(kav.exitStatus(), QProcess::NormalExit);
        QCOMPARE(kav.exitCode(), 0);
    }

    // Started by a file manager's "Open with", then only the keyboard: the
    // five standard keys, and a closed figure drawn with the arrow keys.
    void openWithThenTheKeyboardAlone()
    {
        const QString opened = m_home.filePath(QStringLiteral("opened.txt"));
        QFile input(opened);
        QVERIFY(input.open(QIODevice::WriteOnly));
        input.write("100 50 300 60 200 150");
        input.close();
        QProcess kav;
        QString window;
        QPoint origin;
        Start(kav, {"--open", opened}, m_env, window, origin);
        if (QTest::currentTestFailed())
            return;
        // The keyboard cursor starts where the mouse was.
        Xdotool({"mousemove", "--sync", QString::number(origin.x() + 50), QString::number(origin.y() + 200)});
        QTest::qWait(300);
        QImage shot = ViewShot(origin);
        QCOMPARE(Rgb(shot, {200, 55}), kBlack); // the file's points, at once
        QCOMPARE(Rgb(shot, {250, 105}), kBlack);

        Keys(window, {"ctrl+z"});
        shot = ViewShot(origin);
        QCOMPARE(Rgb(shot, {250, 105}), kWhite);
        QCOMPARE(Rgb(shot, {200, 55}), kBlack);
        Keys(window, {"ctrl+n"});
        AnswerYes(QStringLiteral("Nowy"));
        QTest::qWait(300);
        QCOMPARE(Rgb(ViewShot(origin), {200, 55}), kWhite);

        // From (50, 200) right, up, and back to the start, which asks to join.
        const auto steps = [](const QString& key, int count) { return QStringList(count, key); };
        Keys(window, QStringList{"space"} + steps("shift+Right", 20) + QStringList{"space"} + steps("shift+Up", 10));
        shot = ViewShot(origin);
        QVERIFY2(Rgb(shot, {255, 100}) != kWhite && Rgb(shot, {255, 100}) != kBlack, "no crosshair at the cursor");
        QCOMPARE(Rgb(shot, {150, 200}), kBlack);
        Keys(window, QStringList{"Return"} + steps("shift+Left", 20) + steps("shift+Down", 10) + QStringList{"space"});
        AnswerYes(QString::fromUtf8("Połączyć?"));
        Xdotool({"mousemove", "--sync", QString::number(origin.x() + 400), QString::number(origin.y() + 280)});
        QTest::qWait(300);
        shot = ViewShot(origin);
        shot.save(QDir::current().filePath(QStringLiteral("e2e-keyboard-figure.png")));
        QCOMPARE(Rgb(shot, {250, 150}), kBlack);
        QCOMPARE(Rgb(shot, {150, 150}), kBlack); // the closing segment
        QCOMPARE(Rgb(shot, {255, 100}), kWhite); // the crosshair went with the mouse

        const QString saved = m_home.filePath(QStringLiteral("keyboard.txt"));
        Keys(window, {"ctrl+s"});
        QString format;
        QVERIFY2(OtherWindow(window, &format).isValid(), "the save-format dialog did not appear");
        Keys(format, {"Return"}); // spaces, in the order of the points
        ChooseFile(QStringLiteral("Zachowaj jako"), saved);
        QCOMPARE(WrittenFile(saved), QByteArray("50 200 250 200 250 100 50 200"));

        Keys(window, {"ctrl+o"});
        ChooseFile(QString::fromUtf8("Otwórz"), opened);
        AnswerYes(QString::fromUtf8("Usunąć?"));
        QTest::qWait(300);
        shot = ViewShot(origin);
        QCOMPARE(Rgb(shot, {250, 105}), kBlack);
        QCOMPARE(Rgb(shot, {150, 150}), kWhite);

        Keys(window, {"ctrl+q"});
        // Keys() waits in the event loop, which may see the end already.
        QVERIFY(kav.state() == QProcess::NotRunning || kav.waitForFinished(10000));
        QCOMPARE(kav.exitStatus(), QProcess::NormalExit);
        QCOMPARE(kav.exitCode(), 0);
    }

    // Zoom and pan in the real window: Ctrl+wheel keeps the figure point
    // under the mouse, a click while zoomed in stores the figure point under
    // it, a join works at 1/4, Ctrl+0 shows exactly the 1:1 picture of the
    // same figure opened afresh, and a file lying beyond the window is fitted.
    void zoomPanAndFitInTheRealWindow()
    {
        QProcess kav;
        QString window;
        QPoint origin;
        Start(kav, {}, m_env, window, origin);
        if (QTest::currentTestFailed())
            return;
        for (const QPoint p : {QPoint(100, 100), QPoint(300, 100), QPoint(300, 200)})
            Click(origin + p);
        QTest::qWait(300);
        QCOMPARE(Rgb(ViewShot(origin), {300, 50}), kWhite);
        // Twice as large around (300, 200), which stays where it is.
        // The mouse is there already, so no --sync, which waits for a move.
        Xdotool({"mousemove", QString::number(origin.x() + 300), QString::number(origin.y() + 200), "keydown", "ctrl",
                 "click", "4", "keyup", "ctrl"});
        QTest::qWait(500);
        QImage shot = ViewShot(origin);
        QCOMPARE(Rgb(shot, {300, 50}), kBlack); // (300, 125) of the figure
        QCOMPARE(Rgb(shot, {200, 0}), kBlack); // (250, 100)
        // The view's (320, 220) is the figure's (310, 210) at 2x.
        Click(origin + QPoint(320, 220));
        // Down to 1/4 around it; the first point (100, 100) is then at the
        // view's (267, 192), and a click 2 px off it asks to join.
        Keys(window, {"ctrl+minus", "ctrl+minus", "ctrl+minus"});
        Click(origin + QPoint(269, 190));
        AnswerYes(QString::fromUtf8("Połączyć?"));
        Keys(window, {"ctrl+0"});
        Xdotool({"mousemove", "--sync", QString::number(origin.x() + 590), QString::number(origin.y() + 290)});
        QTest::qWait(300);
        const QImage actual = ViewShot(origin);
        QCOMPARE(Rgb(actual, {205, 155}), kBlack); // the closing segment to (100, 100)

        const QString saved = m_home.filePath(QStringLiteral("zoomed.txt"));
        Keys(window, {"ctrl+s"});
        QString format;
        QVERIFY2(OtherWindow(window, &format).isValid(), "the save-format dialog did not appear");
        Keys(format, {"Return"});
        ChooseFile(QStringLiteral("Zachowaj jako"), saved);
        QCOMPARE(WrittenFile(saved), QByteArray("100 100 300 100 300 200 310 210 100 100"));
        Quit(window);
        QVERIFY(kav.state() == QProcess::NotRunning || kav.waitForFinished(10000));

        // The same figure opened afresh is in view: nothing moves, and the
        // picture is the one that Ctrl+0 showed, pixel for pixel.
        QProcess again;
        Start(again, {"--open", saved}, m_env, window, origin);
        if (QTest::currentTestFailed())
            return;
        Xdotool({"mousemove", QString::number(origin.x() + 590), QString::number(origin.y() + 290)});
        QTest::qWait(500);
        QVERIFY2(ViewShot(origin) == actual, "Ctrl+0 showed another picture than 1:1");

        // A file beyond the window is fitted on Open, and shows.
        const QString far = m_home.filePath(QStringLiteral("far.txt"));
        QFile file(far);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("20000 10000 30000 10000 30000 20000 20000 20000");
        file.close();
        OpenReplacing(window, far);
        QTest::qWait(500);
        shot = ViewShot(origin);
        shot.save(QDir::current().filePath(QStringLiteral("e2e-fitted.png")));
        int ink = 0;
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x)
                ink += Rgb(shot, {x, y}) == kBlack;
        QVERIFY2(ink > 100, qPrintable(QStringLiteral("%1 black pixels after the fit").arg(ink)));
        Quit(window);
        QVERIFY(again.state() == QProcess::NotRunning || again.waitForFinished(10000));
    }

    // An image traced in the real window: loaded from the context menu,
    // drawn over, and the drawing exported as SVG and as the PNG of what
    // the window shows.
    void traceAnImageAndExportIt()
    {
        const QString scan = m_home.filePath(QStringLiteral("scan.png"));
        QImage image(200, 100, QImage::Format_RGB32);
        image.fill(qRgb(200, 220, 255));
        QVERIFY(image.save(scan));
        QProcess kav;
        QString window;
        QPoint origin;
        Start(kav, {}, m_env, window, origin);
        if (QTest::currentTestFailed())
            return;
        // The context menu: the four zoom entries, then "Wczytaj podkład...".
        Xdotool({"mousemove", "--sync", QString::number(origin.x() + 300), QString::number(origin.y() + 150), "click",
                 "3"});
        QTest::qWait(500);
        Screenshot().save(QDir::current().filePath(QStringLiteral("e2e-context-menu.png")));
        Xdotool({"key", "Down", "Down", "Down", "Down", "Down", "Return"});
        ChooseFile(QString::fromUtf8("Otwórz"), scan);
        QTest::qWait(500);
        QImage shot = ViewShot(origin);
        QCOMPARE(Rgb(shot, {50, 50}), QRgb(0xC8DCFF));
        QCOMPARE(Rgb(shot, {250, 50}), kWhite); // beyond the image
        for (const QPoint p : {QPoint(20, 20), QPoint(180, 20), QPoint(180, 80)})
            Click(origin + p);
        Xdotool({"mousemove", "--sync", QString::number(origin.x() + 590), QString::number(origin.y() + 290)});
        QTest::qWait(300);
        shot = ViewShot(origin);
        shot.save(QDir::current().filePath(QStringLiteral("e2e-traced.png")));
        QCOMPARE(Rgb(shot, {100, 20}), kBlack); // the line over the image
        QCOMPARE(Rgb(shot, {100, 21}), QRgb(0xC8DCFF));

        const QString svg = m_home.filePath(QStringLiteral("traced"));
        Keys(window, {"ctrl+e"});
        ChooseFile(QStringLiteral("Zachowaj jako"), svg);
        QVERIFY(WrittenFile(svg + QStringLiteral(".svg")).contains("points=\"20,20 180,20 180,80\""));
        const QString png = m_home.filePath(QStringLiteral("shown.png"));
        Keys(window, {"ctrl+e"});
        ChooseFile(QStringLiteral("Zachowaj jako"), png);
        WrittenFile(png);
        QTest::qWait(500);
        const QImage exported = QImage(png).convertToFormat(QImage::Format_RGB32);
        QVERIFY2(exported.copy(0, 0, 600, 300) == shot.convertToFormat(QImage::Format_RGB32),
                 "the PNG is not what the window shows");
        Quit(window);
        QVERIFY(kav.state() == QProcess::NotRunning || kav.waitForFinished(10000));
    }

    // Devices and pipes that never end, or end only when someone writes: the
    // window waits for none of them, and the figure survives each.
    void hostileFilesNeverCostTheFigure()
    {
        QProcessEnvironment env = ProgramEnvironment(QStringLiteral("hostile"));
        // Memory for about 1.8 million points only.
        env.insert(QStringLiteral("KAV_MEMORY_AVAILABLE_MB"), QStringLiteral("270"));
        QProcess kav;
        QString window;
        QPoint origin;
        Start(kav, {}, env, window, origin);
        if (QTest::currentTestFailed())
            return;
        Click(origin + QPoint(50, 50));
        Click(origin + QPoint(250, 120));
        Xdotool({"mousemove", "--sync", QString::number(origin.x() + 590), QString::number(origin.y() + 290)});
        QTest::qWait(300);
        const QImage figure = ViewShot(origin);
        QCOMPARE(Rgb(figure, {150, 85}), kBlack);

        // An endless device: the busy dialog appears and Cancel ends the load.
        OpenReplacing(window, QStringLiteral("/dev/zero"));
        const QString progress = WaitForWindow(QStringLiteral("^Wczytywanie$"));
        QVERIFY2(!progress.isEmpty(), "no progress dialog for /dev/zero");
        Keys(progress, {"Escape"});
        WaitUntilGone(QStringLiteral("^Wczytywanie$"));
        QTest::qWait(300);
        QCOMPARE(ViewShot(origin), figure);

        // Endless random bytes: memory runs out first, and the user is told.
        OpenReplacing(window, QStringLiteral("/dev/urandom"));
        const QString message = WaitForWindow(QString::fromUtf8("^Błąd odczytu$"));
        QVERIFY2(!message.isEmpty(), "no message when /dev/urandom outgrew the memory");
        Keys(message, {"Return"});
        WaitUntilGone(QString::fromUtf8("^Błąd odczytu$"));
        QTest::qWait(300);
        QCOMPARE(ViewShot(origin), figure);

        // A pipe no one writes to yet: the window waits for it without
        // freezing, and takes what arrives once the writer is done.
        const QString fifo = m_home.filePath(QStringLiteral("pipe"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        OpenReplacing(window, fifo);
        QVERIFY2(!WaitForWindow(QStringLiteral("^Wczytywanie$")).isEmpty(), "no progress dialog for the pipe");
        QFile writer(fifo);
        QVERIFY(writer.open(QIODevice::WriteOnly));
        writer.write("300 40 400 200");
        writer.close();
        WaitUntilGone(QStringLiteral("^Wczytywanie$"));
        QTest::qWait(300);
        const QImage loaded = ViewShot(origin);
        QCOMPARE(Rgb(loaded, {350, 120}), kBlack); // the pipe's segment
        QCOMPARE(Rgb(loaded, {150, 85}), kWhite); // the old figure, replaced
        loaded.save(QDir::current().filePath(QStringLiteral("e2e-after-pipe.png")));

        kav.terminate();
        QVERIFY(kav.waitForFinished(10000));
    }

    // Plik, then Wyjście: the open menu takes the key, not the window.
    void Quit(const QString& window)
    {
        Xdotool({"windowfocus", "--sync", window});
        Xdotool({"key", "alt+p"});
        QTest::qWait(300);
        Xdotool({"key", "w"});
    }

    // Starts the program with the journals of `env`; returns its window.
    QString Start(QProcess& kav, const QProcessEnvironment& env)
    {
        kav.setProcessEnvironment(env);
        kav.start(QStringLiteral(KAV_BINARY), {});
        if (!kav.waitForStarted())
            return {};
        return WaitForWindow(QStringLiteral("^KAV Edytor$"));
    }

    // No fault of the program's own loses the figure: killed, it comes back
    // at the next start; ended by SIGTERM, likewise; declined, it is gone;
    // closed normally, nothing is left to offer.
    void aFaultNeverLosesTheFigure()
    {
        const QProcessEnvironment env = ProgramEnvironment(QStringLiteral("fault"));
        const QString journals = env.value(QStringLiteral("XDG_STATE_HOME")) + QStringLiteral("/kav");
        const QString saved = m_home.filePath(QStringLiteral("recovered.txt"));
        const QString recover = QString::fromUtf8("^Przywrócić\\?$");
        QPoint origin;
        {
            QProcess kav;
            const QString window = Start(kav, env);
            QVERIFY2(!window.isEmpty(), "the main window did not appear");
            QTest::qWait(500);
            origin = ViewOrigin(window);
            QVERIFY2(!origin.isNull(), "no white drawing area found");
            for (const QPoint p : {QPoint(40, 40), QPoint(240, 60), QPoint(140, 200), QPoint(300, 220)})
                Click(origin + p);
            Keys(window, {"alt+c"}); // Cofnij takes back the last one
            QTest::qWait(200);
            kav.kill(); // SIGKILL: nothing runs in the program after this
            QVERIFY(kav.waitForFinished(10000));
            QCOMPARE(kav.exitStatus(), QProcess::CrashExit);
        }
        {
            QProcess kav;
            const QString window = Start(kav, env);
            QVERIFY2(!window.isEmpty(), "the main window did not appear after the kill");
            AnswerYes(QString::fromUtf8("Przywrócić?")); // Tak is the default
            QTest::qWait(300);
            // The figure is back: saved through the real dialogs, space and
            // click order, as the save-format dialog starts.
            Keys(window, {"alt+p"});
            Keys(window, {"s"});
            QString formatId;
            const QRect format = OtherWindow(window, &formatId);
            QVERIFY2(format.isValid(), "the save-format dialog did not appear");
            Click(format.topLeft() + QPoint(qRound(86 * format.width() / 177.0), qRound(184 * format.height() / 198.0)));
            ChooseFile(QStringLiteral("Zachowaj jako"), saved);
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(saved), 5000);
            QFile file(saved);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), QByteArray("40 40 240 60 140 200"));
            kav.terminate(); // the desktop logging out
            QVERIFY(kav.waitForFinished(10000));
            QCOMPARE(kav.exitStatus(), QProcess::CrashExit); // ended by the signal itself
        }
        {
            QProcess kav;
            const QString window = Start(kav, env);
            QVERIFY2(!window.isEmpty(), "the main window did not appear after SIGTERM");
            const QString box = WaitForWindow(recover);
            QVERIFY2(!box.isEmpty(), "SIGTERM lost the figure");
            Keys(box, {"Escape"}); // Nie
            WaitUntilGone(recover);
            Quit(window);
            QVERIFY(kav.waitForFinished(10000));
            QCOMPARE(kav.exitStatus(), QProcess::NormalExit);
        }
        {
            QProcess kav;
            const QString window = Start(kav, env);
            QVERIFY2(!window.isEmpty(), "the main window did not appear the third time");
            QTest::qWait(1500);
            QVERIFY2(Xdotool({"search", "--name", recover}).trimmed().isEmpty(), "asked again after Nie");
            Quit(window);
            QVERIFY(kav.waitForFinished(10000));
            QCOMPARE(kav.exitStatus(), QProcess::NormalExit);
        }
        QCOMPARE(QDir(journals).entryList(QDir::Files), QStringList()); // nothing left behind
    }

    // The X server going away ends the program without a word from the
    // user: the next start, on another server, offers the figure.
    void theXServerGoingAwayKeepsTheFigure()
    {
        QProcess other;
        other.start(QStringLiteral("Xvfb"), {"-displayfd", "1", "-screen", "0", "800x600x24", "-nolisten", "tcp"});
        QVERIFY(other.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(other.canReadLine(), 10000);
        const QString display = QStringLiteral(":") + QString::fromLatin1(other.readLine().trimmed());
        QProcessEnvironment env = ProgramEnvironment(QStringLiteral("xgone"));
        const QProcessEnvironment main = m_env;
        m_env.insert(QStringLiteral("DISPLAY"), display); // the tools, too, work on the other server
        env.insert(QStringLiteral("DISPLAY"), display);
        QProcess kav;
        const QString window = Start(kav, env);
        QVERIFY2(!window.isEmpty(), "the main window did not appear on the other server");
        QTest::qWait(500);
        const QPoint origin = ViewOrigin(window);
        m_env = main;
        QVERIFY2(!origin.isNull(), "no white drawing area found");
        m_env.insert(QStringLiteral("DISPLAY"), display);
        Click(origin + QPoint(30, 30));
        Click(origin + QPoint(130, 90));
        QTest::qWait(300);
        m_env = main;
        other.kill();
        QVERIFY(other.waitForFinished(10000));
        QVERIFY(kav.waitForFinished(10000));

        env.insert(QStringLiteral("DISPLAY"), m_display);
        QProcess again;
        const QString back = Start(again, env);
        QVERIFY2(!back.isEmpty(), "the main window did not appear again");
        const QString box = WaitForWindow(QString::fromUtf8("^Przywrócić\\?$"));
        QVERIFY2(!box.isEmpty(), "the figure was lost with the X server");
        Keys(box, {"Escape"});
        WaitUntilGone(QString::fromUtf8("^Przywrócić\\?$"));
        Quit(back);
        QVERIFY(again.waitForFinished(10000));
    }
};

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_e2e.moc"
