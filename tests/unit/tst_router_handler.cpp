// Which pages may send commands: only documents inside the application folder.
#include "router_handler.h"

#include <QtTest>

class TestRouterHandler : public QObject {
    Q_OBJECT

private slots:
    void applicationPage_data();
    void applicationPage();
    void documentKeepsTheRightItWasCreatedWith_data();
    void documentKeepsTheRightItWasCreatedWith();
};

void TestRouterHandler::applicationPage_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("applicationDir");
    QTest::addColumn<bool>("accepted");

    const QString dir = QStringLiteral("/opt/app");
    QTest::newRow("start page") << "file:///opt/app/view/index.html" << dir << true;
    QTest::newRow("page in a folder of view") << "file:///opt/app/view/pop/pop.html" << dir << true;
    QTest::newRow("folder given with a trailing slash") << "file:///opt/app/view/index.html" << "/opt/app/" << true;
    QTest::newRow("harmless dot segment") << "file:///opt/app/view/./index.html" << dir << true;
    QTest::newRow("dot-dot that stays in view") << "file:///opt/app/view/profiles/../index.html" << dir << true;
    QTest::newRow("encoded blank") << "file:///opt/app/view/my%20page.html" << dir << true;
    QTest::newRow("query and fragment") << "file:///opt/app/view/index.html?x=1#top" << dir << true;

    // Other files of the folder: data that commands and imports write, or no page at all.
    QTest::newRow("file in the folder itself") << "file:///opt/app/index.html" << dir << false;
    QTest::newRow("dot-dot out of view") << "file:///opt/app/view/../index.html" << dir << false;
    QTest::newRow("profile") << "file:///opt/app/view/profiles/profile1.xml" << dir << false;
    QTest::newRow("page among the profiles") << "file:///opt/app/view/profiles/x.html" << dir << false;
    QTest::newRow("page among the XML") << "file:///opt/app/view/xml/x.html" << dir << false;
    QTest::newRow("encoded way into the profiles") << "file:///opt/app/view/%70rofiles/x.html" << dir << false;
    QTest::newRow("settings file") << "file:///opt/app/Resources/profiles/conf.xml" << dir << false;
    QTest::newRow("XHTML") << "file:///opt/app/view/index.xhtml" << dir << false;
    QTest::newRow("html as a folder") << "file:///opt/app/view/a.html/b.xml" << dir << false;
    QTest::newRow("sibling of view") << "file:///opt/app/view2/index.html" << dir << false;

    QTest::newRow("the folder itself") << "file:///opt/app" << dir << false;
    QTest::newRow("the folder itself with a slash") << "file:///opt/app/" << dir << false;
    QTest::newRow("sibling with a common prefix") << "file:///opt/app2/view/index.html" << dir << false;
    QTest::newRow("dot-dot out of the folder") << "file:///opt/app/../etc/passwd" << dir << false;
    QTest::newRow("dot-dot deeper") << "file:///opt/app/view/../../app2/index.html" << dir << false;
    QTest::newRow("encoded dot-dot") << "file:///opt/app/%2E%2E/etc/passwd" << dir << false;
    QTest::newRow("parent folder") << "file:///opt/index.html" << dir << false;
    QTest::newRow("http") << "http://localhost/opt/app/view/index.html" << dir << false;
    QTest::newRow("https") << "https://example.com/opt/app/index.html" << dir << false;
    QTest::newRow("file URL with a host") << "file://server/opt/app/view/index.html" << dir << false;
    QTest::newRow("about:blank") << "about:blank" << dir << false;
    QTest::newRow("plain path, no URL") << "/opt/app/view/index.html" << dir << false;
    QTest::newRow("empty URL") << "" << dir << false;
    QTest::newRow("empty folder") << "file:///opt/app/view/index.html" << "" << false;
}

void TestRouterHandler::applicationPage()
{
    QFETCH(QString, url);
    QFETCH(QString, applicationDir);
    QFETCH(bool, accepted);
    QCOMPARE(window_test::isApplicationPage(url, applicationDir), accepted);
}

void TestRouterHandler::documentKeepsTheRightItWasCreatedWith_data()
{
    QTest::addColumn<QString>("createdAt");
    QTest::addColumn<QString>("showingNow");
    QTest::addColumn<bool>("accepted");

    const QString page = QStringLiteral("file:///opt/app/view/index.html");
    const QString outside = QStringLiteral("file:///tmp/evil/evil.html");
    QTest::newRow("application page") << page << page << true;
    QTest::newRow("application page with a new fragment") << page << page + QStringLiteral("#macro") << true;
    // history.replaceState / pushState to an application address.
    QTest::newRow("outside page taking an application address") << outside << page << false;
    QTest::newRow("application page taking an outside address") << page << outside << false;
    QTest::newRow("address not known at creation") << QString() << page << false;
}

void TestRouterHandler::documentKeepsTheRightItWasCreatedWith()
{
    QFETCH(QString, createdAt);
    QFETCH(QString, showingNow);
    QFETCH(bool, accepted);
    const QString reason = window_test::refusalReason(nullptr, createdAt, showingNow, QStringLiteral("/opt/app"));
    QVERIFY2(reason.isEmpty() == accepted, qPrintable(reason));
    if (!accepted)
        QVERIFY2(reason.startsWith(QLatin1String("query from ")) && reason.contains(QLatin1String("refused")), qPrintable(reason));
}

QTEST_GUILESS_MAIN(TestRouterHandler)
#include "tst_router_handler.moc"
