// The profile operations on files in a private application folder.
#include "profile_package.h"
#include "profile_store.h"

#include <QtTest>

#include <functional>

#include <sys/stat.h>

namespace {

// The "sane" profile; each case edits or queries one part of it.
const char kProfile[] = R"(<?xml version="1.0"?>
<profile name="default">
	<keys>
		<key id="1" code="0x02,%,0x00,%" label="A" />
		<key id="2" code="0x05,0x06" label="B" />
		<key id="3" label="C" />
	</keys>
	<light color="red" level="3">glow</light>
	<macros />
</profile>
)";

const char kOther[] = R"(<?xml version="1.0"?>
<other>
	<light color="blue" level="9" />
	<key id="9" />
</other>
)";

using Kind = ProfileReply::Kind;

} // namespace

Q_DECLARE_METATYPE(ProfileReply::Kind)

class TestProfileStore : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void queryProfileSerialisesEveryMatch_data();
    void queryProfileSerialisesEveryMatch();
    void nodeCounter_data();
    void nodeCounter();
    void modifyProfileSplitsValuesKeepingEmptyParts();
    void modifyAddProfileDropsEmptyValues();
    void changesWorkOnTheCacheNotTheDisk();
    void changedDocumentsReadLikeTheirText();
    void modifyProfileExReplacesChildren();
    void removeNestedMatches();
    void replacePlacement_data();
    void replacePlacement();
    void resetProfileCopiesCachedText();
    void queryHexByte_data();
    void queryHexByte();
    void failures_data();
    void failures();
    void savexmlWritesModifiedFiles();
    void savexmlStopsAtUnwritableFile();
    void packageRoundTrip();
    void packageRefused_data();
    void packageRefused();
    void packageExportOfNothing();

    // Hostile requests: answered, bounded, and never corrupting a file.
    void deepNestingIsRefused();
    void slowXPathIsRefused();
    void nestedPredicatesAreRefused_data();
    void nestedPredicatesAreRefused();
    void pageExpressionsRunOnTheLargestProfile();
    void nonRegularFilesAreRefusedWithoutBlocking();
    void badNamesAreRefused();
    void aliasesAndSymlinks();
    void programFilesAreNotWritten();

private:
    QString write(const QString &relative, const QByteArray &content);
    QString read(const QString &relative) const;
    QString makeFifo(const QString &relative);

    QScopedPointer<QTemporaryDir> m_root;
    QScopedPointer<QTemporaryDir> m_dir;
    QScopedPointer<ProfileStore> m_store;
};

void TestProfileStore::init()
{
    // The application folder sits inside the test's own folder, so that what a ".." path would
    // reach is the test's too.
    m_root.reset(new QTemporaryDir);
    QVERIFY(m_root->isValid());
    m_dir.reset(new QTemporaryDir(m_root->filePath("app-XXXXXX")));
    QVERIFY(m_dir->isValid());
    m_store.reset(new ProfileStore(m_dir->path()));
    write("p.xml", kProfile);
    write("sub/other.xml", kOther);
}

void TestProfileStore::cleanup()
{
    m_store.reset();
    m_dir.reset();
    m_root.reset();
}

QString TestProfileStore::write(const QString &relative, const QByteArray &content)
{
    const QString path = m_dir->filePath(relative);
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

QString TestProfileStore::read(const QString &relative) const
{
    QFile file(m_dir->filePath(relative));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QStringLiteral("<unreadable>");
}

void TestProfileStore::queryProfileSerialisesEveryMatch_data()
{
    QTest::addColumn<QString>("xpath");
    QTest::addColumn<QString>("expected");

    // Tab indentation, one element per line, a line break after each match.
    QTest::newRow("one element") << "/profile/light" << "<light color=\"red\" level=\"3\">glow</light>\n";
    QTest::newRow("several, in document order")
        << "//key[@id>1]" << "<key id=\"2\" code=\"0x05,0x06\" label=\"B\" />\n<key id=\"3\" label=\"C\" />\n";
    QTest::newRow("nested")
        << "/profile/keys"
        << "<keys>\n\t<key id=\"1\" code=\"0x02,%,0x00,%\" label=\"A\" />\n"
           "\t<key id=\"2\" code=\"0x05,0x06\" label=\"B\" />\n\t<key id=\"3\" label=\"C\" />\n</keys>\n";
    QTest::newRow("nothing") << "/profile/none" << "";
    QTest::newRow("attribute is no node") << "/profile/light/@color" << "";
}

void TestProfileStore::queryProfileSerialisesEveryMatch()
{
    QFETCH(QString, xpath);
    QFETCH(QString, expected);
    const ProfileReply reply = m_store->queryProfile("p.xml", xpath);
    QCOMPARE(reply.kind, Kind::Success);
    QCOMPARE(reply.text, expected);
    QVERIFY(m_store->modifiedFiles().isEmpty());
}

void TestProfileStore::nodeCounter_data()
{
    QTest::addColumn<QString>("xpath");
    QTest::addColumn<QString>("expected");
    QTest::newRow("elements") << "/profile/keys" << "3";
    QTest::newRow("text counts") << "/profile/light" << "1";
    QTest::newRow("empty element") << "/profile/macros" << "0";
    QTest::newRow("first match only") << "//key" << "0";
    QTest::newRow("nothing") << "/none" << "0";
}

void TestProfileStore::nodeCounter()
{
    QFETCH(QString, xpath);
    QFETCH(QString, expected);
    const ProfileReply reply = m_store->nodeCounterProfile("p.xml", xpath);
    QCOMPARE(reply.kind, Kind::Success);
    QCOMPARE(reply.text, expected);
}

void TestProfileStore::modifyProfileSplitsValuesKeepingEmptyParts()
{
    // "a;b" with ";x": the empty first value is set, so "color" is cleared and "level" is x.
    ProfileReply reply = m_store->modifyProfile("p.xml", "/profile/light", "color;level", ";x");
    QCOMPARE(reply.kind, Kind::Success);
    QCOMPARE(reply.text, QStringLiteral("modifyProfile success!"));
    QCOMPARE(m_store->queryProfile("p.xml", "/profile/light").text,
             QStringLiteral("<light color=\"\" level=\"x\">glow</light>\n"));

    // Attributes the node lacks are not created; the command still succeeds.
    reply = m_store->modifyProfile("p.xml", "//key", "label;missing", "Z;1");
    QCOMPARE(reply.kind, Kind::Success);
    QCOMPARE(m_store->queryProfile("p.xml", "//key[@id=3]").text, QStringLiteral("<key id=\"3\" label=\"Z\" />\n"));

    // Fewer values than names: the extra names are left alone.
    reply = m_store->modifyProfile("p.xml", "/profile/light", "color;level", "green");
    QCOMPARE(reply.kind, Kind::Success);
    QCOMPARE(m_store->queryProfile("p.xml", "/profile/light").text,
             QStringLiteral("<light color=\"green\" level=\"x\">glow</light>\n"));
    QCOMPARE(m_store->modifiedFiles(), QStringList{m_store->resolveProfilePath("p.xml")});
}

void TestProfileStore::modifyAddProfileDropsEmptyValues()
{
    // Same arguments as above: here the empty value disappears, a pairs with x, b stays empty.
    const ProfileReply reply = m_store->modifyAddProfile("p.xml", "/profile/macros", "a;b", ";x", "macro");
    QCOMPARE(reply.kind, Kind::Success);
    QCOMPARE(reply.text, QStringLiteral("modifyAddProfile success"));
    QCOMPARE(m_store->queryProfile("p.xml", "/profile/macros").text,
             QStringLiteral("<macros>\n\t<macro a=\"x\" b=\"\" />\n</macros>\n"));

    // One new child for every match.
    QCOMPARE(m_store->modifyAddProfile("p.xml", "//key", "n", "1", "sub").kind, Kind::Success);
    QCOMPARE(m_store->nodeCounterProfile("p.xml", "//key[@id=2]").text, QStringLiteral("1"));
    QCOMPARE(m_store->queryProfile("p.xml", "//sub").text.count("<sub n=\"1\" />"), 3);
}

void TestProfileStore::changesWorkOnTheCacheNotTheDisk()
{
    QCOMPARE(m_store->modifyProfile("p.xml", "/profile", "name", "mine").kind, Kind::Success);
    // The file is untouched until a save, and a change on disk is not seen either.
    QVERIFY(read("p.xml").contains("name=\"default\""));
    write("p.xml", "<profile name=\"changed on disk\"><light/></profile>");
    write("sub/other.xml", "not xml at all");
    QCOMPARE(m_store->queryProfile("p.xml", "/profile/light/@color").kind, Kind::Success);
    QCOMPARE(m_store->nodeCounterProfile("p.xml", "/profile/keys").text, QStringLiteral("3"));
    QVERIFY(m_store->queryProfile("p.xml", "/profile").text.startsWith("<profile name=\"mine\">"));

    // The whole document is serialised back with a declaration line.
    const QString cached = m_store->cachedText(m_store->resolveProfilePath("p.xml"));
    QVERIFY2(cached.startsWith("<?xml version=\"1.0\"?>\n<profile name=\"mine\">\n\t<keys>"), qPrintable(cached));
}

void TestProfileStore::changedDocumentsReadLikeTheirText()
{
    // After every change the store answers as one that reads the changed text from disk would:
    // text nodes that come to lie side by side are one text node once parsed, and values with
    // characters a parse changes (line ends, tabs, markup, control characters) come back as set.
    write("t.xml", "<a><t>x<b/>y<c/><![CDATA[z]]></t><k code=\"1\"/></a>");
    write("s.xml", "<s>w<e/></s>");
    const auto change = [&](const ProfileReply &reply) { QCOMPARE(reply.kind, Kind::Success); };
    const QList<std::function<void()>> changes = {
        [&] { change(m_store->modifyRemoveProfile("t.xml", "/a/t/b")); },
        [&] { change(m_store->modifyProfile("t.xml", "/a/k", "code", "l1\nl2\r\n\tx & <y> \"q\" \x01 \xc3\xa9")); },
        [&] { change(m_store->modifyReplaceProfile("s.xml", "t.xml", "/s/text()", "/a/t/c")); },
        [&] { change(m_store->modifyAddProfile("t.xml", "/a/t", "n", "1", "d")); },
        [&] { change(m_store->modifyProfileEx("t.xml", "/a/t/d", "<e>v</e>u")); },
    };
    const QStringList queries = {"/a/t", "/a/t/text()[1]", "/a/k", "/a/t/d"};
    for (const auto &step : changes) {
        step();
        const QString text = m_store->cachedText(m_store->resolveProfilePath("t.xml"));
        QTemporaryDir fresh;
        QFile file(fresh.filePath("t.xml"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(text.toUtf8()) > 0);
        file.close();
        ProfileStore reader(fresh.path());
        for (const QString &xpath : queries) {
            QCOMPARE(m_store->nodeCounterProfile("t.xml", xpath).text, reader.nodeCounterProfile("t.xml", xpath).text);
            QCOMPARE(m_store->queryProfile("t.xml", xpath).text, reader.queryProfile("t.xml", xpath).text);
        }
        QCOMPARE(m_store->queryHexByte("t.xml", "/a/k", "").text, reader.queryHexByte("t.xml", "/a/k", "").text);
    }
    QCOMPARE(m_store->nodeCounterProfile("t.xml", "/a/t").text, QStringLiteral("3")); // "xyw", <![CDATA[z]]>, <d>
    QCOMPARE(m_store->queryHexByte("t.xml", "/a/k", "").text, QString::fromUtf8("l1\nl2\r\n\tx & <y> \"q\" \x01 \xc3\xa9"));
}

void TestProfileStore::modifyProfileExReplacesChildren()
{
    const ProfileReply reply = m_store->modifyProfileEx("p.xml", "/profile/keys", "<k n=\"1\"/><k n=\"2\"/>");
    QCOMPARE(reply.kind, Kind::Success);
    QCOMPARE(reply.text, QStringLiteral("modifyProfileEx success"));
    QCOMPARE(m_store->queryProfile("p.xml", "/profile/keys").text,
             QStringLiteral("<keys>\n\t<k n=\"1\" />\n\t<k n=\"2\" />\n</keys>\n"));
    // A subtree that does not parse changes nothing; an empty one empties the target.
    const QString before = m_store->queryProfile("p.xml", "/").text;
    m_store->savexml();
    for (const char *broken : {"<unclosed>", "<k n=\"3\"/><k", "plain text"}) {
        const ProfileReply refused = m_store->modifyProfileEx("p.xml", "/profile/keys", broken);
        QCOMPARE(refused.kind, Kind::Failure);
        QCOMPARE(refused.text, QStringLiteral("modifyProfileEx load xml file failed!"));
    }
    QCOMPARE(m_store->queryProfile("p.xml", "/").text, before);
    QVERIFY(m_store->modifiedFiles().isEmpty());
    QCOMPARE(m_store->modifyProfileEx("p.xml", "/profile/keys", "").kind, Kind::Success);
    QCOMPARE(m_store->nodeCounterProfile("p.xml", "/profile/keys").text, QStringLiteral("0"));
}

void TestProfileStore::removeNestedMatches()
{
    write("n.xml", "<a><b><b><b/></b></b><c/><b/></a>");
    // Inner matches go with their outer one; touching them afterwards would use freed nodes.
    QCOMPARE(m_store->modifyRemoveProfile("n.xml", "//b").text, QStringLiteral("modifyRemoveProfile success"));
    QCOMPARE(m_store->queryProfile("n.xml", "/a").text, QStringLiteral("<a>\n\t<c />\n</a>\n"));
    write("m.xml", "<a><b><b/></b></a>");
    QCOMPARE(m_store->modifyProfileEx("m.xml", "//b", "<x/>").kind, Kind::Success);
    QCOMPARE(m_store->queryProfile("m.xml", "/a").text, QStringLiteral("<a>\n\t<b>\n\t\t<x />\n\t</b>\n</a>\n"));
    // Attributes are no nodes: nothing removed, still a success that marks the file.
    QCOMPARE(m_store->modifyRemoveProfile("p.xml", "//@label").kind, Kind::Success);
    QCOMPARE(m_store->queryProfile("p.xml", "//key[@label]").text.count("<key"), 3);
}

void TestProfileStore::replacePlacement_data()
{
    QTest::addColumn<QString>("srcXpath");
    QTest::addColumn<QString>("desXpath");
    QTest::addColumn<QString>("expectedKeys");

    const QString k1 = "\t<key id=\"1\" code=\"0x02,%,0x00,%\" label=\"A\" />\n";
    const QString k2 = "\t<key id=\"2\" code=\"0x05,0x06\" label=\"B\" />\n";
    const QString k3 = "\t<key id=\"3\" label=\"C\" />\n";
    const QString k9 = "\t<key id=\"9\" />\n";
    QTest::newRow("first child") << "/other/key" << "//key[@id=1]" << "<keys>\n" + k9 + k2 + k3 + "</keys>\n";
    QTest::newRow("middle child") << "/other/key" << "//key[@id=2]" << "<keys>\n" + k1 + k9 + k3 + "</keys>\n";
    QTest::newRow("last child") << "/other/key" << "//key[@id=3]" << "<keys>\n" + k1 + k2 + k9 + "</keys>\n";
    QTest::newRow("source matches nothing") << "/other/none" << "//key[@id=2]" << "<keys>\n" + k1 + k3 + "</keys>\n";
    QTest::newRow("target matches nothing") << "/other/key" << "//key[@id=7]" << "<keys>\n" + k1 + k2 + k3 + "</keys>\n";
}

void TestProfileStore::replacePlacement()
{
    QFETCH(QString, srcXpath);
    QFETCH(QString, desXpath);
    QFETCH(QString, expectedKeys);
    const ProfileReply reply = m_store->modifyReplaceProfile("sub/other.xml", "p.xml", srcXpath, desXpath);
    QCOMPARE(reply.kind, Kind::Success);
    QCOMPARE(reply.text, QStringLiteral("modifyReplaceProfile success"));
    QCOMPARE(m_store->queryProfile("p.xml", "/profile/keys").text, expectedKeys);
    // Only the destination counts as modified.
    QCOMPARE(m_store->modifiedFiles(), QStringList{m_store->resolveProfilePath("p.xml")});
}

void TestProfileStore::resetProfileCopiesCachedText()
{
    QCOMPARE(m_store->modifyProfile("sub/other.xml", "/other/light", "color", "white").kind, Kind::Success);
    const ProfileReply reply = m_store->resetProfile("sub/other.xml", "p.xml");
    QCOMPARE(reply.kind, Kind::Success);
    QCOMPARE(reply.text, QStringLiteral("resetProfile success"));
    // The source's cached (edited) text, not its file.
    QCOMPARE(m_store->queryProfile("p.xml", "/other/light/@color|/other/light").text,
             QStringLiteral("<light color=\"white\" level=\"9\" />\n"));
    const QString p = m_store->resolveProfilePath("p.xml");
    const QString other = m_store->resolveProfilePath("sub/other.xml");
    QCOMPARE(m_store->modifiedFiles(), (QStringList{other, p}));
    QCOMPARE(m_store->resetProfile("missing.xml", "p.xml").kind, Kind::None);
}

void TestProfileStore::queryHexByte_data()
{
    QTest::addColumn<QString>("xpath");
    QTest::addColumn<QString>("args");
    QTest::addColumn<QString>("expected");
    QTest::newRow("two arguments") << "//key[@id=1]" << "0x10,0x20" << "0x02,0x10,0x00,0x20";
    QTest::newRow("empty argument parts dropped") << "//key[@id=1]" << ",0x10,,0x20," << "0x02,0x10,0x00,0x20";
    QTest::newRow("too few arguments") << "//key[@id=1]" << "0x10" << "0x02,0x10,0x00,%";
    QTest::newRow("no %") << "//key[@id=2]" << "0x10" << "0x05,0x06";
    QTest::newRow("no code") << "//key[@id=3]" << "0x10" << "";
    QTest::newRow("no node") << "//key[@id=8]" << "0x10" << "";
}

void TestProfileStore::queryHexByte()
{
    QFETCH(QString, xpath);
    QFETCH(QString, args);
    QFETCH(QString, expected);
    write("hex.xml", "<k><key id=\"5\" code=\"%,%,%,%,%\"/><key id=\"6\" code=\"%\"/></k>");
    const ProfileReply reply = m_store->queryHexByte("p.xml", xpath, args);
    QCOMPARE(reply.kind, Kind::Success);
    QCOMPARE(reply.text, expected);
    // Only the first four fields take arguments; a short code reads past nothing.
    QCOMPARE(m_store->queryHexByte("hex.xml", "//key[@id=5]", "1,2,3,4,5").text, QStringLiteral("1,2,3,4,%"));
    QCOMPARE(m_store->queryHexByte("hex.xml", "//key[@id=6]", "1,2").text, QStringLiteral("1"));
}

void TestProfileStore::failures_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("xpath");
    QTest::addColumn<ProfileReply::Kind>("kind");
    QTest::addColumn<QString>("text");

    const QStringList commands = {"queryProfile", "nodeCounterProfile", "modifyProfile", "modifyProfileEx",
                                  "modifyRemoveProfile", "modifyAddProfile", "modifyReplaceProfile",
                                  "queryHexByte", "saveXmlAs"};
    const QStringList texts = {"queryProfile load xml file failed!",     "nodeCounterProfile load xml file failed!",
                               "modifyProfile load xml file failed!",    "modifyProfileEx load xml file failed!",
                               "modifyProfile load xml file failed!",    "modifyProfile load xml file failed!",
                               "modifyReplaceProfile load xml file failed!", "modifyProfile load xml file failed!",
                               "saveXmlAs load xml file failed!"};
    for (int i = 0; i < commands.size(); ++i) {
        const QByteArray c = commands.at(i).toLatin1();
        QTest::newRow(c + ": unparsable") << commands.at(i) << "bad.xml" << "/a" << Kind::Failure << texts.at(i);
        QTest::newRow(c + ": missing file") << commands.at(i) << "missing.xml" << "/a" << Kind::None << "";
        QTest::newRow(c + ": bad XPath") << commands.at(i) << "p.xml" << "/profile[" << Kind::Failure << texts.at(i);
        QTest::newRow(c + ": XPath of no node set") << commands.at(i) << "p.xml" << "count(//key)" << Kind::Failure
                                                    << texts.at(i);
        QTest::newRow(c + ": out of the folder") << commands.at(i) << "sub/../../p.xml" << "/a" << Kind::Failure
                                                 << texts.at(i);
    }
}

void TestProfileStore::failures()
{
    QFETCH(QString, command);
    QFETCH(QString, file);
    QFETCH(QString, xpath);
    QFETCH(ProfileReply::Kind, kind);
    QFETCH(QString, text);

    write("bad.xml", "<a><b></a>");
    // A file outside the application folder that the ".." path would reach.
    write("../p.xml", kProfile);
    m_store->queryProfile("p.xml", "/"); // cached before, so an unchanged cache shows
    const QString cachedBefore = m_store->cachedText(m_store->resolveProfilePath("p.xml"));
    const QString pfd = m_dir->filePath("out.pfd");

    ProfileReply reply;
    if (command == "queryProfile")
        reply = m_store->queryProfile(file, xpath);
    else if (command == "nodeCounterProfile")
        reply = m_store->nodeCounterProfile(file, xpath);
    else if (command == "modifyProfile")
        reply = m_store->modifyProfile(file, xpath, "a", "b");
    else if (command == "modifyProfileEx")
        reply = m_store->modifyProfileEx(file, xpath, "<x/>");
    else if (command == "modifyRemoveProfile")
        reply = m_store->modifyRemoveProfile(file, xpath);
    else if (command == "modifyAddProfile")
        reply = m_store->modifyAddProfile(file, xpath, "a", "b", "n");
    else if (command == "modifyReplaceProfile")
        reply = m_store->modifyReplaceProfile(file, "p.xml", xpath, "/profile");
    else if (command == "queryHexByte")
        reply = m_store->queryHexByte(file, xpath, "1");
    else if (command == "saveXmlAs")
        reply = m_store->saveXmlAs(file, xpath, pfd);

    QCOMPARE(reply.kind, kind);
    QCOMPARE(reply.text, text);
    QVERIFY(m_store->modifiedFiles().isEmpty());
    QCOMPARE(m_store->cachedText(m_store->resolveProfilePath("p.xml")), cachedBefore);
    QVERIFY(!QFile::exists(pfd));
    QVERIFY(m_store->resolveProfilePath(file).isEmpty() == file.contains(".."));
}

void TestProfileStore::savexmlWritesModifiedFiles()
{
    // Nothing loaded yet: no reply at all.
    QCOMPARE(m_store->savexml().kind, Kind::None);
    QCOMPARE(m_store->queryProfile("p.xml", "/").kind, Kind::Success);
    QCOMPARE(m_store->savexml().text, QStringLiteral("save xml success")); // nothing modified
    QCOMPARE(read("p.xml"), QString::fromUtf8(kProfile));

    QCOMPARE(m_store->modifyProfile("p.xml", "/profile/light", "color", "ünïcode").kind, Kind::Success);
    QCOMPARE(m_store->modifyProfile("p.xml", "/profile/light", "level", "4").kind, Kind::Success);
    const ProfileReply reply = m_store->savexml();
    QCOMPARE(reply.kind, Kind::Success);
    QCOMPARE(reply.text, QStringLiteral("save xml success"));
    QVERIFY(m_store->modifiedFiles().isEmpty());
    QVERIFY(read("p.xml").contains("<light color=\"ünïcode\" level=\"4\">glow</light>"));
    QVERIFY(!read("p.xml").startsWith(QChar(0xfeff)));
}

void TestProfileStore::savexmlStopsAtUnwritableFile()
{
    QCOMPARE(m_store->modifyProfile("sub/other.xml", "/other/light", "color", "1").kind, Kind::Success);
    QCOMPARE(m_store->modifyProfile("p.xml", "/profile/light", "color", "2").kind, Kind::Success);
    write("third.xml", "<t a=\"0\"/>");
    QCOMPARE(m_store->modifyProfile("third.xml", "/t", "a", "3").kind, Kind::Success);
    // The second file cannot be written: its path is now a folder (this holds even for root).
    QVERIFY(QFile::remove(m_dir->filePath("p.xml")));
    QVERIFY(QDir(m_dir->path()).mkdir("p.xml"));

    QCOMPARE(m_store->savexml().kind, Kind::None);
    QVERIFY(!m_store->saveModified());
    QVERIFY(read("sub/other.xml").contains("color=\"1\""));
    QCOMPARE(read("third.xml"), QStringLiteral("<t a=\"0\"/>")); // not reached
    // Every path stays, so a later save retries them all.
    QCOMPARE(m_store->modifiedFiles().size(), 3);
    // No temporary file is left behind.
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), (QStringList{"third.xml"}));

    QVERIFY(QDir(m_dir->path()).rmdir("p.xml"));
    QCOMPARE(m_store->savexml().kind, Kind::Success);
    QVERIFY(read("p.xml").contains("color=\"2\""));
    QVERIFY(read("third.xml").contains("a=\"3\""));
}

void TestProfileStore::packageRoundTrip()
{
    const QString pfd = m_dir->filePath("export.pfd");
    ProfileReply reply = m_store->saveXmlAs("sub/other.xml", "/other/light", pfd);
    QCOMPARE(reply.kind, Kind::Success);
    QCOMPARE(reply.text, QStringLiteral("saveXmlAs success"));

    QFile file(pfd);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    const QByteArray document = "<?xml version=\"1.0\"?>\n<light color=\"blue\" level=\"9\" />\n";
    const QByteArray base64 = document.toBase64();
    QCOMPARE(bytes.left(4), QByteArray::fromHex("0a0b0c0d"));
    QCOMPARE(bytes.mid(4, 4), QByteArray::fromHex(QByteArray::number(base64.size(), 16).rightJustified(8, '0')));
    QCOMPARE(bytes.mid(8), base64);

    // Import: the package's top element stands for the target; its children replace the target's.
    write("pkg.xml", "<p><slot><old/></slot></p>");
    QCOMPARE(m_store->saveXmlAs("p.xml", "/profile/keys", pfd).kind, Kind::Success);
    reply = m_store->modifyReplaceProfileEx(pfd, "pkg.xml", "/p/slot");
    QCOMPARE(reply.kind, Kind::Success);
    QCOMPARE(reply.text, QStringLiteral("modifyReplaceProfile success"));
    QCOMPARE(m_store->nodeCounterProfile("pkg.xml", "/p/slot").text, QStringLiteral("3"));
    QCOMPARE(m_store->queryProfile("pkg.xml", "/p/slot/key[2]/@code|/p/slot/key[2]").text,
             QStringLiteral("<key id=\"2\" code=\"0x05,0x06\" label=\"B\" />\n"));
    QCOMPARE(m_store->modifiedFiles(), QStringList{m_store->resolveProfilePath("pkg.xml")});

    // Exporting again replaces the package; an unwritable destination leaves it as it was.
    QCOMPARE(m_store->saveXmlAs("p.xml", "/profile/keys", m_dir->filePath("no/such/dir/x.pfd")).text,
             QStringLiteral("saveXmlAs desFilePath is failed!"));
}

void TestProfileStore::packageRefused_data()
{
    QTest::addColumn<QByteArray>("bytes");
    const QByteArray base64 = QByteArray("<a><b/></a>").toBase64();
    QByteArray length(4, '\0');
    qToBigEndian<quint32>(quint32(base64.size()), length.data());
    QTest::newRow("wrong magic") << QByteArray::fromHex("0d0c0b0a") + length + base64;
    QTest::newRow("magic off by one") << QByteArray::fromHex("0a0b0c0e") + length + base64;
    QTest::newRow("truncated") << QByteArray::fromHex("0a0b0c0d") + length + base64.left(4);
    QTest::newRow("no length") << QByteArray::fromHex("0a0b0c0d");
    QTest::newRow("empty file") << QByteArray();
    QTest::newRow("not XML") << QByteArray::fromHex("0a0b0c0d") + QByteArray::fromHex("00000004") + "PGE+";
}

void TestProfileStore::packageRefused()
{
    QFETCH(QByteArray, bytes);
    const QString pfd = write("in.pfd", bytes);
    const QString before = m_store->queryProfile("p.xml", "/").text;
    const ProfileReply reply = m_store->modifyReplaceProfileEx(pfd, "p.xml", "/profile/keys");
    QCOMPARE(reply.kind, Kind::Failure);
    QCOMPARE(reply.text, QStringLiteral("modifyReplaceProfile load xml file failed!"));
    QCOMPARE(m_store->queryProfile("p.xml", "/").text, before);
    QVERIFY(m_store->modifiedFiles().isEmpty());
    // A package path that does not exist is refused the same way.
    QCOMPARE(m_store->modifyReplaceProfileEx(m_dir->filePath("none.pfd"), "p.xml", "/profile/keys").text,
             QStringLiteral("modifyReplaceProfile load xml file failed!"));
}

void TestProfileStore::packageExportOfNothing()
{
    const QString pfd = m_dir->filePath("empty.pfd");
    QCOMPARE(m_store->saveXmlAs("p.xml", "/profile/none", pfd).kind, Kind::Success);
    QFile file(pfd);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QByteArray document;
    QVERIFY(ProfilePackage::decode(file.readAll(), &document));
    QCOMPARE(document, QByteArray("<?xml version=\"1.0\"?>\n"));
}

QString TestProfileStore::makeFifo(const QString &relative)
{
    const QString path = m_dir->filePath(relative);
    if (::mkfifo(QFile::encodeName(path).constData(), 0600) != 0)
        qFatal("cannot make a FIFO at %s", qPrintable(path));
    return path;
}

namespace {

QByteArray nested(const char *name, int depth)
{
    QByteArray open, close;
    for (int i = 0; i < depth; ++i) {
        open += '<' + QByteArray(name) + '>';
        close.prepend("</" + QByteArray(name) + '>');
    }
    return open + close;
}

bool isFifo(const QString &path)
{
    struct stat status;
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 && S_ISFIFO(status.st_mode);
}

} // namespace

void TestProfileStore::deepNestingIsRefused()
{
    // Indented output grows with the square of the depth: these would need hundreds of megabytes.
    const QString before = m_store->queryProfile("p.xml", "/").text;
    ProfileReply reply = m_store->modifyProfileEx("p.xml", "/profile/macros", nested("a", 12000));
    QCOMPARE(reply.kind, Kind::Failure);
    QCOMPARE(reply.text, QStringLiteral("modifyProfileEx load xml file failed!"));

    const QString pfd = write("deep.pfd", ProfilePackage::encode("<top>" + nested("b", 12000) + "</top>"));
    reply = m_store->modifyReplaceProfileEx(pfd, "p.xml", "/profile/macros");
    QCOMPARE(reply.kind, Kind::Failure);
    QCOMPARE(reply.text, QStringLiteral("modifyReplaceProfile load xml file failed!"));

    // A file that deep on disk is no profile either.
    write("deep.xml", nested("a", 12000));
    QCOMPARE(m_store->queryProfile("deep.xml", "/a").text, QStringLiteral("queryProfile load xml file failed!"));

    // Growing a document by copying it into itself stops at the same depth.
    write("grow.xml", "<a>" + nested("b", 20) + "</a>");
    reply = ProfileReply::success(QString());
    for (int i = 0; i < 8 && reply.kind == Kind::Success; ++i)
        reply = m_store->modifyReplaceProfile("grow.xml", "grow.xml", "/a", "(//b)[last()]");
    QCOMPARE(reply.kind, Kind::Failure);

    QCOMPARE(m_store->queryProfile("p.xml", "/").text, before);
    QCOMPARE(m_store->modifiedFiles().size(), 1); // grow.xml, from the copies that still fitted
    // Profiles of ordinary depth still work.
    QCOMPARE(m_store->modifyProfileEx("p.xml", "/profile/macros", nested("m", 20)).kind, Kind::Success);
}

void TestProfileStore::slowXPathIsRefused()
{
    // 20,000 nodes that each count all 20,000, or look at all their siblings: seconds to minutes of
    // work for the window's thread.
    QByteArray wide = "<r>";
    for (int i = 0; i < 20000; ++i)
        wide += "<a/>";
    write("wide.xml", wide + "</r>");
    for (const char *xpath : {"//a[count(//a) > 1]", "//a[count(/r/a) > 1]", "/r/a[following-sibling::a]",
                                 "/r/a[.//b]", "//a[descendant::a]", "/r/a/following::a",
                                 "/r/a | /r/a | /r/a | /r/a | /r/a | /r/a"}) {
        const ProfileReply reply = m_store->nodeCounterProfile("wide.xml", xpath);
        QCOMPARE(reply.kind, Kind::Failure);
        QCOMPARE(reply.text, QStringLiteral("nodeCounterProfile load xml file failed!"));
    }
    // 20,000 levels, three descendant steps: a minute before.
    write("deep.xml", nested("a", 20000));
    QCOMPARE(m_store->nodeCounterProfile("deep.xml", "//a//a//a").text,
             QStringLiteral("nodeCounterProfile load xml file failed!"));

    // Predicates on a node's own attributes, children and position still work, and so do paths
    // that merely contain such characters in their literals.
    QCOMPARE(m_store->nodeCounterProfile("wide.xml", "/r").text, QStringLiteral("20000"));
    QCOMPARE(m_store->queryProfile("wide.xml", "/r/a[last()]").text, QStringLiteral("<a />\n"));
    // One too much for the window's thread to run itself goes to the worker, with the same answer.
    QCOMPARE(m_store->queryProfile("wide.xml", "//a[string(.)=''][last()]").text, QStringLiteral("<a />\n"));
    QCOMPARE(m_store->queryProfile("p.xml", "//key[@label='/'] | /profile/keys/key[@id=2 and not(b)]/@code").kind,
             Kind::Success);
    QCOMPARE(m_store->queryProfile("p.xml", "/descendant::key[@id=\"3\"]").text,
             QStringLiteral("<key id=\"3\" label=\"C\" />\n"));

    // The string value of an element is built one text piece at a time, each copying all before
    // it, and again for each element above: 2,650 pieces of 1,500 characters 30 levels down kept
    // the worker busy for half a minute, and every command was refused meanwhile.
    QByteArray pieces;
    for (int i = 0; i < 2650; ++i)
        pieces += QByteArray(1500, 't') + "<b/>";
    QByteArray deep = nested("a", 30);
    write("pieces.xml", "<r>" + deep.insert(deep.indexOf("</a>"), pieces) + "</r>");
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(m_store->queryProfile("pieces.xml", "//*[.='x']").text, QStringLiteral("queryProfile load xml file failed!"));
    QCOMPARE(m_store->nodeCounterProfile("pieces.xml", "/r").text, QStringLiteral("1"));
    QVERIFY2(timer.elapsed() < ProfileStore::kXPathBudgetMs, "refused before it ran");
    // Whatever the bound misses, an evaluation that still builds strings when its time is up
    // stops: here the guard is told the document is tiny, so it runs the expression itself.
    auto document = std::make_shared<pugi::xml_document>();
    QVERIFY(document->load_file(QFile::encodeName(m_dir->filePath("pieces.xml")).constData()));
    std::vector<pugi::xml_node> nodes;
    timer.restart();
    QCOMPARE(XPathGuard().select(document, XPathGuard::Shape(), "//*[.='x']", &nodes), XPathGuard::Outcome::Refused);
    QVERIFY(timer.elapsed() < 3 * ProfileStore::kXPathBudgetMs);
    // Comparing string values stays possible where they are built from few pieces.
    QCOMPARE(m_store->queryProfile("p.xml", "/profile//*[.='glow']").text,
             QStringLiteral("<light color=\"red\" level=\"3\">glow</light>\n"));
}

void TestProfileStore::nestedPredicatesAreRefused_data()
{
    QTest::addColumn<QString>("xpath");
    // Far more work on 300 siblings than a command may take (the first runs for minutes): each
    // level inside a predicate that reaches the siblings again multiplies the work by their number.
    QTest::newRow("parent and child") << "//*[*[parent::*[*[parent::*[*[parent::*[*[name()='q']]]]]]]]";
    QTest::newRow("node() tests") << "//*[*[parent::node()[*[parent::node()[*[parent::node()[*]]]]]]]";
    QTest::newRow("deeper, absolute") << "/profile/*[parent::*[*[parent::*[*[parent::*[*[parent::*[*]]]]]]]]";
    QTest::newRow("from attributes") << "//@*[parent::*[*[parent::*[*[parent::*[*[parent::*]]]]]]]";
    QTest::newRow("self between") << "//*[*[self::*[parent::*[*[parent::*[*]]]]]]";
    QTest::newRow("ancestor") << "//*[*[ancestor::*[*[ancestor::*[*]]]]]";
    QTest::newRow("following, preceding") << "//*[following::*[preceding::*[name()='q']]]";
    QTest::newRow("descendant") << "//*[*[descendant::*[*[name()='q']]]]";
    QTest::newRow("// inside") << "//*[.//*[.//*[name()='q']]]";
    QTest::newRow("count(//*) inside") << "//*[count(//*[count(//*) > 0]) > 0]";
}

void TestProfileStore::nestedPredicatesAreRefused()
{
    QFETCH(QString, xpath);
    QByteArray siblings = "<profile>";
    for (int i = 0; i < 300; ++i)
        siblings += "<k id=\"" + QByteArray::number(i) + "\"/>";
    write("siblings.xml", siblings + "</profile>");
    const ProfileReply reply = m_store->queryProfile("siblings.xml", xpath);
    QCOMPARE(reply.kind, Kind::Failure);
    QCOMPARE(reply.text, QStringLiteral("queryProfile load xml file failed!"));
    // Refused before it ran: an expression given up after the time-out would still be running,
    // and no other expression is taken until it ends.
    QCOMPARE(m_store->nodeCounterProfile("siblings.xml", "/profile").text, QStringLiteral("300"));
    QCOMPARE(m_store->queryProfile("siblings.xml", "/profile/k[@id=299]").text, QStringLiteral("<k id=\"299\" />\n"));
}

void TestProfileStore::pageExpressionsRunOnTheLargestProfile()
{
    // The kinds of expression the page sends, on a profile just below the size limit (written as a
    // save writes it, so that a change fits again).
    QByteArray large = "<?xml version=\"1.0\"?>\n<profile>\n\t<keys>\n";
    for (int i = 0; large.size() < ProfileStore::kMaxTextBytes - 200; ++i)
        large += "\t\t<key id=\"" + QByteArray::number(i) + "\" code=\"0x02,%,0x00,%\" label=\"K\" />\n";
    write("large.xml", large + "\t</keys>\n\t<macros>\n\t\t<macro />\n\t\t<macro id=\"2\" />\n\t</macros>\n</profile>\n");
    QCOMPARE(m_store->queryProfile("large.xml", "/profile/keys/key[@id='5000']").text.left(14),
             QStringLiteral("<key id=\"5000\""));
    QCOMPARE(m_store->queryProfile("large.xml", "(/profile/macros/macro)[2]").text, QStringLiteral("<macro id=\"2\" />\n"));
    QCOMPARE(m_store->modifyRemoveProfile("large.xml", "/profile/macros/macro[1]").kind, Kind::Success);
    QCOMPARE(m_store->nodeCounterProfile("large.xml", "/profile/macros").text, QStringLiteral("1"));
}

void TestProfileStore::nonRegularFilesAreRefusedWithoutBlocking()
{
    // Opening a FIFO for reading waits for a writer that never comes.
    const QString source = makeFifo("in.pfd");
    ProfileReply reply = m_store->modifyReplaceProfileEx(source, "p.xml", "/profile/keys");
    QCOMPARE(reply.text, QStringLiteral("modifyReplaceProfile load xml file failed!"));
    makeFifo("fifo.xml");
    QCOMPARE(m_store->queryProfile("fifo.xml", "/").text, QStringLiteral("queryProfile load xml file failed!"));

    // Replacing by rename would turn the FIFO into a plain file.
    const QString target = makeFifo("out.pfd");
    reply = m_store->saveXmlAs("p.xml", "/profile/keys", target);
    QCOMPARE(reply.kind, Kind::Failure);
    QCOMPARE(reply.text, QStringLiteral("saveXmlAs desFilePath is failed!"));
    QVERIFY(isFifo(target));

    // A profile that became a FIFO after it was read is not replaced by the save.
    QCOMPARE(m_store->modifyProfile("p.xml", "/profile/light", "color", "x").kind, Kind::Success);
    QVERIFY(QFile::remove(m_dir->filePath("p.xml")));
    makeFifo("p.xml");
    QCOMPARE(m_store->savexml().kind, Kind::None);
    QVERIFY(isFifo(m_dir->filePath("p.xml")));
    QCOMPARE(m_store->modifiedFiles().size(), 1);
}

void TestProfileStore::badNamesAreRefused()
{
    const QString before = m_store->queryProfile("p.xml", "/").text;
    const QList<QStringList> cases = {
        {"bad name", "a", "1"}, {"x\"y", "a", "1"}, {"", "a", "1"},     {"1st", "a", "1"},
        {"ok", "x\"y", "1"},    {"ok", "a b", "1"}, {"ok", "a;a", "1;2"}, {"ok", "a;<b", "1;2"},
    };
    for (const QStringList &c : cases) {
        const ProfileReply reply = m_store->modifyAddProfile("p.xml", "/profile/macros", c[1], c[2], c[0]);
        QVERIFY2(reply.kind == Kind::Failure, qPrintable(c.join(" | ")));
        QCOMPARE(reply.text, QStringLiteral("modifyProfile load xml file failed!"));
    }
    // Nor may a change leave a profile without its one top element, which no load takes back.
    QCOMPARE(m_store->modifyRemoveProfile("p.xml", "/profile").kind, Kind::Failure);
    QCOMPARE(m_store->modifyProfileEx("p.xml", "/", "").kind, Kind::Failure);
    QCOMPARE(m_store->modifyProfileEx("p.xml", "/", "text").kind, Kind::Failure);
    QCOMPARE(m_store->queryProfile("p.xml", "/").text, before);
    QVERIFY(m_store->modifiedFiles().isEmpty());

    // Names beyond ASCII are names too, and what is saved loads again.
    QCOMPARE(m_store->modifyAddProfile("p.xml", "/profile/macros", "été;ns:x", "1;2", "ключ_1.a-b").kind,
             Kind::Success);
    QCOMPARE(m_store->savexml().kind, Kind::Success);
    ProfileStore fresh(m_dir->path());
    QCOMPARE(fresh.queryProfile("p.xml", "//ключ_1.a-b").text,
             QStringLiteral("<ключ_1.a-b été=\"1\" ns:x=\"2\" />\n"));
}

void TestProfileStore::aliasesAndSymlinks()
{
    // One file, one cache entry, however the path is spelt.
    QCOMPARE(m_store->modifyProfile("./p.xml", "/profile/light", "color", "green").kind, Kind::Success);
    QCOMPARE(m_store->modifyProfile("p.xml", "/profile/light", "level", "7").kind, Kind::Success);
    QCOMPARE(m_store->modifyProfile("sub/../p.xml", "/profile", "name", "both").kind, Kind::Success);
    QVERIFY(QFile::link(m_dir->filePath("p.xml"), m_dir->filePath("sub/link.xml")));
    QCOMPARE(m_store->queryProfile("sub/link.xml", "/profile/light").text,
             QStringLiteral("<light color=\"green\" level=\"7\">glow</light>\n"));
    QCOMPARE(m_store->modifiedFiles().size(), 1);
    QCOMPARE(m_store->savexml().kind, Kind::Success);
    QVERIFY(read("p.xml").contains("<profile name=\"both\">"));
    QVERIFY(read("p.xml").contains("color=\"green\" level=\"7\""));

    // A link that leads out of the folder is refused for reading and for writing.
    QTemporaryDir outside;
    QVERIFY(outside.isValid());
    QFile file(outside.filePath("o.xml"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(kOther);
    file.close();
    QVERIFY(QFile::link(outside.filePath("o.xml"), m_dir->filePath("out.xml")));
    QVERIFY(QFile::link(outside.path(), m_dir->filePath("outdir")));
    QCOMPARE(m_store->queryProfile("out.xml", "/").text, QStringLiteral("queryProfile load xml file failed!"));
    QCOMPARE(m_store->modifyProfile("outdir/o.xml", "/other/light", "color", "x").text,
             QStringLiteral("modifyProfile load xml file failed!"));
    QCOMPARE(m_store->resetProfile("p.xml", "out.xml").kind, Kind::None);
    QVERIFY(m_store->modifiedFiles().isEmpty());
    QCOMPARE(m_store->savexml().kind, Kind::Success);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray(kOther));
}

void TestProfileStore::programFilesAreNotWritten()
{
    // The program's own files, in its own folder; some of them even parse as XML.
    const QByteArray page = "<html><body>page</body></html>";
    write("view/index.html", page);
    write("view/js/main.js", "<x/>");
    write("libpadio.so", "<x/>");
    write("vexa", "<x/>");
    write("Resources/profiles/conf.xml", "<root><client lang=\"en\"/></root>");
    write("view/xml/configuration.xml", "<conf><modeSetting/></conf>");
    const QStringList own = {"view/index.html", "view/js/main.js", "libpadio.so", "vexa",
                             "Resources/profiles/conf.xml", "./Resources/profiles/../profiles/conf.xml"};
    for (const QString &path : own) {
        QCOMPARE(m_store->resetProfile("p.xml", path).kind, Kind::None);
        QCOMPARE(m_store->modifyProfile(path, "/*", "lang", "x").text,
                 QStringLiteral("modifyProfile load xml file failed!"));
        QCOMPARE(m_store->modifyProfileEx(path, "/*", "<y/>").text,
                 QStringLiteral("modifyProfileEx load xml file failed!"));
        QCOMPARE(m_store->modifyReplaceProfile("p.xml", path, "/profile", "/*").text,
                 QStringLiteral("modifyReplaceProfile load xml file failed!"));
    }
    // Nor as a package exported into the folder.
    QCOMPARE(m_store->saveXmlAs("p.xml", "/profile", m_dir->filePath("view/index.html")).text,
             QStringLiteral("saveXmlAs desFilePath is failed!"));
    QVERIFY(m_store->modifiedFiles().isEmpty());
    QCOMPARE(m_store->savexml().kind, Kind::Success);
    QCOMPARE(read("view/index.html"), QString::fromUtf8(page));
    QCOMPARE(read("libpadio.so"), QStringLiteral("<x/>"));
    QCOMPARE(read("Resources/profiles/conf.xml"), QStringLiteral("<root><client lang=\"en\"/></root>"));

    // They can still be read, and the files the page owns are still written.
    QCOMPARE(m_store->queryProfile("Resources/profiles/conf.xml", "/root/client/@lang|/root/client").kind,
             Kind::Success);
    QCOMPARE(m_store->modifyAddProfile("view/xml/configuration.xml", "/conf/modeSetting", "id", "1", "mode").kind,
             Kind::Success);
    QCOMPARE(m_store->resetProfile("sub/other.xml", "p.xml").kind, Kind::Success);
    QCOMPARE(m_store->savexml().kind, Kind::Success);
    QVERIFY(read("view/xml/configuration.xml").contains("<mode id=\"1\" />"));
}

QTEST_GUILESS_MAIN(TestProfileStore)
#include "tst_profile_store.moc"
