// A profile package as an import reads it: profile data only. A profile shown in a browser once
// ran an XHTML script that an import had kept, with every right of the bridge.
#include "profile_package.h"

#include <QtTest>

class TestProfilePackage : public QObject {
    Q_OBJECT

private slots:
    void importKeepsProfileDataOnly_data();
    void importKeepsProfileDataOnly();
};

void TestProfilePackage::importKeepsProfileDataOnly_data()
{
    QTest::addColumn<QByteArray>("packaged");
    QTest::addColumn<QByteArray>("imported"); // empty: refused

    const QByteArray plain = R"(<profile><keys><key id="1" name="A &amp; B">text<![CDATA[<b>]]></key><!-- note --></keys></profile>)";
    QTest::newRow("profile data") << plain << plain;
    QTest::newRow("XHTML script")
        << QByteArray(R"(<profile><keys><script xmlns="http://www.w3.org/1999/xhtml">alert(1)</script><key/></keys></profile>)")
        << QByteArray("<profile><keys><key/></keys></profile>");
    QTest::newRow("prefixed script")
        << QByteArray(R"(<profile xmlns:h="http://www.w3.org/1999/xhtml"><keys><h:script>alert(1)</h:script><key/></keys></profile>)")
        << QByteArray(R"(<profile xmlns:h="http://www.w3.org/1999/xhtml"><keys><key/></keys></profile>)");
    QTest::newRow("everything below a foreign element")
        << QByteArray(R"(<profile><svg xmlns="http://www.w3.org/2000/svg"><g><script>alert(1)</script></g></svg><key/></profile>)")
        << QByteArray("<profile><key/></profile>");
    QTest::newRow("style sheet that makes a page")
        << QByteArray(R"(<?xml-stylesheet type="text/xsl" href="x.xsl"?><profile><?xml-stylesheet href="y.xsl"?><key/></profile>)")
        << QByteArray("<profile><key/></profile>");
    QTest::newRow("not XML") << QByteArray("<profile><key></profile>") << QByteArray();
}

void TestProfilePackage::importKeepsProfileDataOnly()
{
    QFETCH(QByteArray, packaged);
    QFETCH(QByteArray, imported);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("p.pfd"));
    QVERIFY(ProfilePackage::write(path, packaged));
    QByteArray read;
    QCOMPARE(ProfilePackage::read(path, &read), !imported.isEmpty());
    if (!imported.isEmpty())
        QCOMPARE(read, imported);
}

QTEST_GUILESS_MAIN(TestProfilePackage)
#include "tst_profile_package.moc"
