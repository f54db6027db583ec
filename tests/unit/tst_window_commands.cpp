// The window commands of the page's title bar and the pop-up views: the move text, moving and
// minimising a real top-level widget, maximise / restore against the work area, and which
// pop-up "closeView" closes. Runs on the offscreen platform without a client handler, so no
// browser is ever created.
#include "command_test_support.h"
#include "pop_widget.h"
#include "vexa.h"
#include "vexa_web_view.h"
#include "view_commands.h"
#include "window_commands.h"
#include "window_ops.h"

#include <QtTest>

#include <QScreen>

namespace {

QString describe(const QRect &rect)
{
    return QStringLiteral("%1,%2 %3x%4").arg(rect.x()).arg(rect.y()).arg(rect.width()).arg(rect.height());
}

QString replyOf(vexa &window, const QString &text)
{
    CefRefPtr<RecordingCallback> callback = new RecordingCallback;
    window.onJsMessage(text, callback);
    QStringList replies = callback->replies;
    for (QString &reply : replies)
        reply.replace(QLatin1String("success:"), QString()).replace(QLatin1String("failure:0:"), QLatin1String("failure: "));
    return replies.isEmpty() ? QStringLiteral("<none>") : replies.join('|');
}

// A main window with the application around it stood in for; the window goes first.
struct WindowFixture {
    FakeContext context;
    CommandRegistry commands;
    vexa window{context, commands};
};

// Delivers everything already posted, deferred deletions included. The offscreen platform these
// tests run on applies a window's geometry at once and reports it through posted events, so
// after this a request has had all its effect: no time to wait out.
void drainEvents()
{
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace

class TestWindowCommands : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void parseMoveText_data();
    void parseMoveText();
    void move_normalWindow_movesByTheDeltaAndResizes();
    void move_minimizedWindow_restoresWithTheSizeAtItsCorner();
    void minimize_togglesBetweenMinimizedAndNormal();
    void move_hugeOrFarRequests_stayOnTheScreens();

    void restoreBeforeAnyMaximize_goesToTheOriginWithTheMinimumSize();
    void maximizeAndRestore_followTheWorkArea();

    void viewSize_data();
    void viewSize();
    void viewSizeFitsTheScreens_data();
    void viewSizeFitsTheScreens();
    void openView_oneFramelessPopUpPerAddress();
    void closeView_closesTheLastActivatedPopUp();
    void closeView_withoutActivation_closesNothing();

    void applicationCommands_reply_data();
    void applicationCommands_reply();

private:
    std::unique_ptr<WindowFixture> m_fixture;
    vexa *m_window = nullptr;
};

void TestWindowCommands::initTestCase()
{
    m_fixture.reset(new WindowFixture);
    m_window = &m_fixture->window;
}

void TestWindowCommands::cleanupTestCase()
{
    m_window = nullptr;
    m_fixture.reset();
}

void TestWindowCommands::parseMoveText_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QVector<int>>("values");

    QTest::newRow("colon") << QByteArray("moveWindow:10,-5,800,600") << QVector<int>{10, -5, 800, 600};
    QTest::newRow("any separator is skipped") << QByteArray("moveWindow 10,-5,800,600") << QVector<int>{10, -5, 800, 600};
    QTest::newRow("a digit as separator is skipped too") << QByteArray("moveWindow710,-5,800,600")
                                                         << QVector<int>{10, -5, 800, 600};
    QTest::newRow("three") << QByteArray("moveWindow:10,-5,800") << QVector<int>{10, -5, 800};
    QTest::newRow("five") << QByteArray("moveWindow:10,-5,800,600,1") << QVector<int>{10, -5, 800, 600, 1};
    QTest::newRow("bare prefix") << QByteArray("moveWindow") << QVector<int>{};
    QTest::newRow("prefix and separator only") << QByteArray("moveWindow:") << QVector<int>{};
    QTest::newRow("blank before a comma ends the list") << QByteArray("moveWindow:1 ,2,3,4") << QVector<int>{1};
    QTest::newRow("blank after a comma is fine") << QByteArray("moveWindow:1, 2,3,4") << QVector<int>{1, 2, 3, 4};
    QTest::newRow("plus sign") << QByteArray("moveWindow:+1,2,3,4") << QVector<int>{1, 2, 3, 4};
    QTest::newRow("other separator") << QByteArray("moveWindow:1;2,3,4") << QVector<int>{1};
    QTest::newRow("empty item") << QByteArray("moveWindow:1,,2,3,4") << QVector<int>{1};
    QTest::newRow("decimal only") << QByteArray("moveWindow:0x10,1,2,3") << QVector<int>{0};
    QTest::newRow("fraction") << QByteArray("moveWindow:1.5,2,3,4") << QVector<int>{1};
    QTest::newRow("beyond int") << QByteArray("moveWindow:99999999999,1,2,3") << QVector<int>{};
    QTest::newRow("trailing text after four") << QByteArray("moveWindow:1,2,3,4x") << QVector<int>{1, 2, 3, 4};
    QTest::newRow("trailing comma") << QByteArray("moveWindow:1,2,3,4,") << QVector<int>{1, 2, 3, 4};
}

void TestWindowCommands::parseMoveText()
{
    QFETCH(QByteArray, text);
    QFETCH(QVector<int>, values);
    QCOMPARE(WindowCommands::parseMoveText(text), values);
}

void TestWindowCommands::move_normalWindow_movesByTheDeltaAndResizes()
{
    QWidget window(nullptr, Qt::Window | Qt::FramelessWindowHint);
    window.setGeometry(100, 120, 300, 200);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QVERIFY(WindowCommands::moveWindow(window.winId(), "moveWindow:10,-5,800,600"));
    QTRY_COMPARE(window.frameGeometry(), QRect(110, 115, 800, 600));
    QVERIFY(!WindowCommands::moveWindow(window.winId(), "moveWindow:10,-5,800"));
    QVERIFY(!WindowCommands::moveWindow(window.winId(), "moveWindow:1 ,2,3,4"));
    drainEvents();
    QCOMPARE(window.frameGeometry(), QRect(110, 115, 800, 600));
    // A child's handle acts on its top-level window.
    QWidget *child = new QWidget(&window);
    child->setAttribute(Qt::WA_NativeWindow);
    QVERIFY(WindowCommands::moveWindow(child->winId(), "moveWindow 1,2,640,480"));
    QTRY_COMPARE(window.frameGeometry(), QRect(111, 117, 640, 480));
}

void TestWindowCommands::move_minimizedWindow_restoresWithTheSizeAtItsCorner()
{
    QWidget window(nullptr, Qt::Window | Qt::FramelessWindowHint);
    window.setGeometry(100, 120, 300, 200);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.showMinimized();
    QTRY_VERIFY(window.isMinimized());

    // The delta does not count for a window that is not in its normal state.
    QVERIFY(WindowCommands::moveWindow(window.winId(), "moveWindow:50,50,640,480"));
    QTRY_VERIFY(!window.isMinimized());
    QTRY_COMPARE(window.frameGeometry(), QRect(100, 120, 640, 480));
}

void TestWindowCommands::move_hugeOrFarRequests_stayOnTheScreens()
{
    QRect desktop;
    for (const QScreen *screen : QGuiApplication::screens())
        desktop |= screen->geometry();
    QVERIFY(!desktop.isEmpty());
    QWidget window(nullptr, Qt::Window | Qt::FramelessWindowHint);
    window.setGeometry(100, 120, 300, 200);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const auto onScreens = [&] {
        const QRect rect = window.frameGeometry();
        return rect.width() <= desktop.width() && rect.height() <= desktop.height() && rect.intersects(desktop);
    };

    // A window larger than every screen together once made the X server's shared image fail.
    QVERIFY(WindowCommands::moveWindow(window.winId(), "moveWindow:0,0,100000,100000"));
    QTRY_VERIFY2(onScreens(), qPrintable(describe(window.frameGeometry())));
    QCOMPARE(window.frameGeometry().size(), desktop.size());

    // Deltas at the ends of int: the sum must neither wrap nor throw the window off the screens.
    QVERIFY(WindowCommands::moveWindow(window.winId(), "moveWindow:2147483647,2147483647,300,200"));
    QTRY_COMPARE(window.frameGeometry().size(), QSize(300, 200));
    QVERIFY2(onScreens(), qPrintable(describe(window.frameGeometry())));
    QVERIFY(WindowCommands::moveWindow(window.winId(), "moveWindow:-2147483648,-2147483648,300,200"));
    drainEvents();
    QVERIFY2(onScreens(), qPrintable(describe(window.frameGeometry())));
    QVERIFY(WindowCommands::moveWindow(window.winId(), "moveWindow:0,0,-2147483648,0"));
    drainEvents();
    QVERIFY2(onScreens() && !window.frameGeometry().isEmpty(), qPrintable(describe(window.frameGeometry())));

    // The same for a minimised window, which is restored at its corner with the size asked for.
    window.showMinimized();
    QTRY_VERIFY(window.isMinimized());
    QVERIFY(WindowCommands::moveWindow(window.winId(), "moveWindow:0,0,2147483647,2147483647"));
    QTRY_VERIFY(!window.isMinimized());
    QTRY_VERIFY2(onScreens(), qPrintable(describe(window.frameGeometry())));
}

void TestWindowCommands::minimize_togglesBetweenMinimizedAndNormal()
{
    QWidget window(nullptr, Qt::Window | Qt::FramelessWindowHint);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    WindowCommands::toggleMinimized(window.winId());
    QTRY_VERIFY(window.isMinimized());
    WindowCommands::toggleMinimized(window.winId());
    QTRY_VERIFY(!window.isMinimized());
    QVERIFY(window.isVisible());
    // An unknown handle is ignored.
    WindowCommands::toggleMinimized(0);
    QVERIFY(WindowCommands::moveWindow(0, "moveWindow:1,2,3,4"));
}

void TestWindowCommands::restoreBeforeAnyMaximize_goesToTheOriginWithTheMinimumSize()
{
    WindowFixture fixture;
    vexa &window = fixture.window;
    window.move(40, 50);
    QCOMPARE(replyOf(window, R"({"funcname":"restoreWindow"})"), QStringLiteral("<none>"));
    QCOMPARE(window.geometry(), QRect(QPoint(0, 0), window.minimumSize()));
}

void TestWindowCommands::maximizeAndRestore_followTheWorkArea()
{
    vexa &window = *m_window;
    const QRect workArea = WindowOps::workArea();
    QVERIFY(!workArea.isEmpty());
    const QRect normal(QPoint(30, 40), window.minimumSize());
    window.setGeometry(normal);

    QCOMPARE(replyOf(window, R"({"funcname":"maxsizeWindow"})"), QStringLiteral("<none>"));
    QCOMPARE(window.geometry(), workArea);
    QCOMPARE(window.savedWindowGeometry(), normal);
    // Only the geometry changed: the window is not in the maximised state.
    QVERIFY(!window.isMaximized());

    QCOMPARE(replyOf(window, R"({"funcname":"restoreWindow"})"), QStringLiteral("<none>"));
    QCOMPARE(window.geometry(), normal);
    // A second restore goes back to the same place.
    window.move(5, 5);
    window.restoreWindow();
    QCOMPARE(window.geometry(), normal);

    // Maximising twice remembers the work area itself, so restoring then stays there.
    window.maximizeWindow();
    window.maximizeWindow();
    QCOMPARE(window.savedWindowGeometry(), workArea);
    window.restoreWindow();
    QCOMPARE(window.geometry(), workArea);

    // Other spellings are no window commands.
    window.setGeometry(normal);
    QCOMPARE(replyOf(window, R"({ "funcname" : "maxsizeWindow" })"), QStringLiteral("<none>"));
    QCOMPARE(window.geometry(), normal);
}

void TestWindowCommands::viewSize_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QSize>("size");
    QTest::newRow("width and height") << "800,600" << QSize(800, 600);
    QTest::newRow("width alone") << "800" << QSize(800, 0);
    QTest::newRow("empty") << "" << QSize(0, 0);
    QTest::newRow("not a number") << "wide,600" << QSize(0, 600);
    QTest::newRow("extra part ignored") << "800,600,1" << QSize(800, 600);
    QTest::newRow("empty height") << "800," << QSize(800, 0);
}

void TestWindowCommands::viewSize()
{
    QFETCH(QString, text);
    QFETCH(QSize, size);
    QCOMPARE(ViewCommands::parseViewSize(text), size);
}

void TestWindowCommands::viewSizeFitsTheScreens_data()
{
    QTest::addColumn<QSize>("asked");
    QTest::addColumn<QSize>("fitted");
    QTest::newRow("fits") << QSize(800, 600) << QSize(800, 600);
    QTest::newRow("as large as the screens") << QSize(3840, 1080) << QSize(3840, 1080);
    QTest::newRow("huge") << QSize(20000, 20000) << QSize(3840, 1080);
    QTest::newRow("int's end") << QSize(2147483647, 2147483647) << QSize(3840, 1080);
    QTest::newRow("negative") << QSize(-5, -2147483647 - 1) << QSize(0, 0);
}

void TestWindowCommands::viewSizeFitsTheScreens()
{
    QFETCH(QSize, asked);
    QFETCH(QSize, fitted);
    // Two screens side by side.
    QCOMPARE(ViewCommands::fitViewSize(asked, QRect(-1920, 0, 3840, 1080)), fitted);
}

void TestWindowCommands::openView_oneFramelessPopUpPerAddress()
{
    WindowFixture fixture;
    vexa &window = fixture.window;
    const QString url = QCoreApplication::applicationDirPath() + "/view/pop.html";
    const QString fileUrl = "file://" + url;
    QCOMPARE(replyOf(window, R"({"funcname":"openView","relativeUrl":"/view/pop.html","size":"400,300"})"),
             QStringLiteral("<none>"));
    QPointer<PopWidget> popUp = window.popUp(fileUrl);
    QVERIFY(popUp);
    QCOMPARE(popUp->url(), fileUrl);
    QVERIFY(popUp->isVisible());
    QCOMPARE(popUp->size(), QSize(400, 300));
    QCOMPARE(popUp->view()->size(), QSize(400, 300));
    QVERIFY(popUp->windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(popUp->windowType(), Qt::Dialog);
    QCOMPARE(popUp->parentWidget(), &window);

    // The same address again: the open window stays and no second one appears.
    popUp->hide();
    replyOf(window, R"({"funcname":"openView","relativeUrl":"/view/pop.html","size":"640,480"})");
    QCOMPARE(window.popUp(fileUrl), popUp.data());
    QVERIFY(!popUp->isVisible());
    QCOMPARE(window.findChildren<PopWidget *>().size(), 1);

    // A width alone gives a zero height instead of reading past the size parts.
    replyOf(window, R"({"funcname":"openView","relativeUrl":"/view/other.html","size":"800"})");
    PopWidget *other = window.popUp("file://" + QCoreApplication::applicationDirPath() + "/view/other.html");
    QVERIFY(other);
    QCOMPARE(other->viewSize(), QSize(800, 0));

    // Missing arguments: nothing opens.
    replyOf(window, R"({"funcname":"openView","relativeUrl":"/view/third.html"})");
    replyOf(window, R"({"funcname":"openView","size":"1,1"})");
    QCOMPARE(window.findChildren<PopWidget *>().size(), 2);
}

void TestWindowCommands::closeView_closesTheLastActivatedPopUp()
{
    WindowFixture fixture;
    vexa &window = fixture.window;
    window.openView("file:///a.html", QSize(200, 100));
    window.openView("file:///b.html", QSize(200, 100));
    QPointer<PopWidget> first = window.popUp("file:///a.html");
    QPointer<PopWidget> second = window.popUp("file:///b.html");
    QVERIFY(first && second);

    // Activation goes through the pop-up's own event filter.
    QApplication::setActiveWindow(second);
    QTRY_COMPARE(window.currentPopUpView(), second.data());
    QApplication::setActiveWindow(first);
    QTRY_COMPARE(window.currentPopUpView(), first.data());

    // Whichever page sends it, the last activated pop-up goes.
    replyOf(window, R"({"funcname":"closeView"})");
    QVERIFY(!window.currentPopUpView());
    QVERIFY(!window.popUp("file:///a.html"));
    QTRY_VERIFY(!first);
    QVERIFY(second);

    // Its address may be opened again.
    window.openView("file:///a.html", QSize(200, 100));
    QVERIFY(window.popUp("file:///a.html"));
}

void TestWindowCommands::closeView_withoutActivation_closesNothing()
{
    WindowFixture fixture;
    vexa &window = fixture.window;
    window.openView("file:///a.html", QSize(200, 100));
    QPointer<PopWidget> popUp = window.popUp("file:///a.html");
    QApplication::setActiveWindow(popUp);
    QTRY_COMPARE(window.currentPopUpView(), popUp.data());
    window.closeView();
    QTRY_VERIFY(!popUp);

    // No pop-up activated since: a second close only hands the queries back.
    window.openView("file:///b.html", QSize(200, 100));
    QPointer<PopWidget> other = window.popUp("file:///b.html");
    window.closeView();
    drainEvents();
    QVERIFY(other);
    QVERIFY(window.popUp("file:///b.html"));
}

void TestWindowCommands::applicationCommands_reply_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("reply");
    QTest::addColumn<bool>("saveFails");
    // No settings in this process: like a settings file without "closeFunc", the window stays.
    QTest::newRow("closeApp without closeFunc") << R"({"funcname":"closeApp"})" << "modify conf sucess" << false;
    QTest::newRow("confChanged") << R"({"funcname":"confChanged"})" << "confChanged" << false;
    // The monitor goes on with the bindings it has, and the page hears of the failure.
    QTest::newRow("confChanged, a file that cannot be written")
        << R"({"funcname":"confChanged"})" << "failure: confChanged save failed!" << true;
    QTest::newRow("openView") << R"({"funcname":"openView","relativeUrl":"/view/x.html","size":"1,1"})" << "<none>" << false;
    // Profiles are data an import writes, never pages.
    QTest::newRow("openView of a profile")
        << R"({"funcname":"openView","relativeUrl":"/view/profiles/default.xml","size":"1,1"})"
        << "failure: /view/profiles/default.xml is not a page of vexa: only its own pages can be shown" << false;
    QTest::newRow("loadurl of a profile") << R"({"funcname":"loadurl","url":"/view/profiles/profile1.xml"})"
                                          << "failure: /view/profiles/profile1.xml is not a page of vexa: only its own pages can be shown" << false;
    QTest::newRow("loadurl out of the folder") << R"({"funcname":"loadurl","url":"/../x/view/index.html"})"
                                               << "failure: /../x/view/index.html is not a page of vexa: only its own pages can be shown" << false;
    QTest::newRow("closeView") << R"({"funcname":"closeView"})" << "<none>" << false;
    QTest::newRow("openUrl without url") << R"({"funcname":"openUrl"})" << "<none>" << false;
}

void TestWindowCommands::applicationCommands_reply()
{
    QFETCH(QString, text);
    QFETCH(QString, reply);
    QFETCH(bool, saveFails);
    m_window->show();
    m_fixture->context.saveFails = saveFails;
    const int restarts = m_fixture->context.restarts;
    QCOMPARE(replyOf(*m_window, text), reply);
    m_fixture->context.saveFails = false;
    QVERIFY(m_window->isVisible());
    QCOMPARE(m_fixture->context.quits, 0);
    if (saveFails)
        QCOMPARE(m_fixture->context.restarts, restarts);
}

QTEST_MAIN(TestWindowCommands)
#include "tst_window_commands.moc"
