// The update package: what build() and mkupdate write comes out of unpack() file for file, and
// every package that must be refused is refused with the downloader's log text and line before a
// single byte is written, inside the unpacking folder or beside it.
#include "package_writer.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDirIterator>
#include <QProcess>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

using UpdatePackage::Entry;
using UpdatePackage::Failure;
using FileMap = QMap<QString, QByteArray>;

namespace {

// Offsets of the package header.
constexpr int kDigestAt = 128;
constexpr int kPropertiesAt = 148;
constexpr int kSizeAt = 153;

QByteArray hexFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing test data %s", qPrintable(path));
    return QByteArray::fromHex(file.readAll().trimmed());
}

// A key pair made once for the tests; never a vendor's key.
QString secretKeyFile()
{
    return QStringLiteral(VEXA_TEST_DATA "/test_sign.key");
}
QByteArray secretKey()
{
    return hexFile(secretKeyFile());
}
QByteArray publicKey()
{
    return hexFile(QStringLiteral(VEXA_TEST_DATA "/test_sign.pub"));
}

QByteArray built(const QVector<Entry> &entries, const QByteArray &key = {})
{
    QString error;
    const QByteArray package = UpdatePackage::build(QStringLiteral("1.0"), entries, key, &error);
    if (package.isEmpty())
        qFatal("build: %s", qPrintable(error));
    return package;
}

QByteArray sealed(const QByteArray &content)
{
    QString error;
    const QByteArray package = UpdatePackage::seal(content, {}, &error);
    if (package.isEmpty())
        qFatal("seal: %s", qPrintable(error));
    return package;
}

// A hand-made file list; each file's declared size is given apart from its content so that they
// can disagree.
struct Listed {
    QString name;
    quint32 declared;
    QByteArray content;
};

QByteArray content(quint32 count, const QVector<Listed> &files)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_5_1);
    out << QStringLiteral("1.0") << count;
    for (const Listed &file : files)
        out << file.name << file.declared << file.content;
    return bytes;
}

// An unsafe name after a good file: the good one must not be written either.
QByteArray withName(const QString &name)
{
    return sealed(content(2, {{QStringLiteral("pkg/good.txt"), 4, "good"}, {name, 3, "bad"}}));
}

// After the test has changed a package: a digest that holds, so that the change is what fails.
QByteArray redigested(QByteArray package)
{
    const QByteArray digest = QCryptographicHash::hash(package.mid(kPropertiesAt), QCryptographicHash::Sha1);
    package.replace(kDigestAt, digest.size(), digest);
    return package;
}

qint32 declaredSize(const QByteArray &package)
{
    return qFromLittleEndian<qint32>(package.constData() + kSizeAt);
}

QByteArray withDeclaredSize(QByteArray package, qint32 size)
{
    char bytes[4];
    qToLittleEndian(size, bytes);
    package.replace(kSizeAt, 4, bytes, 4);
    return redigested(package);
}

QByteArray withByte(QByteArray package, int at, char value)
{
    package[at] = value;
    return package;
}

// Bytes that LZMA cannot shrink, so that cutting the stream cuts content.
QByteArray noise(int size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &c : bytes) {
        seed = seed * 1664525u + 1013904223u;
        c = char(seed >> 24);
    }
    return bytes;
}

// Everything below a folder, files by their "/" path relative to it (folders as "name/").
FileMap tree(const QString &folder)
{
    FileMap found;
    const QDir root(folder);
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (it.fileInfo().isDir()) {
            found.insert(root.relativeFilePath(path) + QLatin1Char('/'), {});
            continue;
        }
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            found.insert(root.relativeFilePath(path), file.readAll());
    }
    return found;
}

FileMap onlyFiles(FileMap map)
{
    for (auto it = map.begin(); it != map.end();)
        it = it.key().endsWith(QLatin1Char('/')) ? map.erase(it) : it + 1;
    return map;
}

} // namespace

class TestUpdatePackage : public QObject {
    Q_OBJECT

private slots:
    void unpacksExactlyWhatWasBuilt();
    void refuses_data();
    void refuses();
    void leftoverTempFolderIsNotReused();
    void signature_data();
    void signature();
    void builtInKeyDecides();
    void buildRefusesWhatUnpackWould();
    void mkupdatePackageUnpacks_data();
    void mkupdatePackageUnpacks();
    void mkupdateRefuses_data();
    void mkupdateRefuses();
};

void TestUpdatePackage::unpacksExactlyWhatWasBuilt()
{
    QByteArray allBytes;
    for (int i = 0; i < 256; ++i)
        allBytes.append(char(i));
    const QVector<Entry> entries = {
        {QStringLiteral("html/index.html"), "<html>index</html>\n"},
        {QStringLiteral("html/js/app.js"), QByteArray(20000, 'x')},
        {QStringLiteral("html/img/a/b/c/bytes.bin"), allBytes},
        {QStringLiteral("html/img/noise.bin"), noise(200000, 7)},
        {QStringLiteral("html/empty.txt"), QByteArray()},
        {QStringLiteral("html/.hidden"), "dot"},
        {QString::fromUtf8("html/语言/名字 with space.txt"), "utf-16 names"},
    };
    QString error;
    const QByteArray package = UpdatePackage::build(QStringLiteral("2.4.1"), entries, {}, &error);
    QVERIFY2(!package.isEmpty(), qPrintable(error));

    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    // The parent does not exist either: the downloader's kind folder may have gone meanwhile.
    const QString temp = tmp.filePath(QStringLiteral("client/temp"));
    QString version;
    Failure failure;
    QVERIFY2(UpdatePackage::unpack(package, temp, {}, &version, &failure), qPrintable(failure.message));
    QCOMPARE(version, QStringLiteral("2.4.1"));
    FileMap expected;
    for (const Entry &entry : entries)
        expected.insert(entry.name.mid(entry.name.indexOf(QLatin1Char('/')) + 1), entry.content);
    QCOMPARE(onlyFiles(tree(temp)), expected);
}

void TestUpdatePackage::refuses_data()
{
    QTest::addColumn<QByteArray>("package");
    QTest::addColumn<int>("line");
    QTest::addColumn<QString>("message"); // <temp> stands for the unpacking folder

    const QByteArray good = built({{QStringLiteral("pkg/a.txt"), "alpha"}});
    const qint32 size = declaredSize(good);
    const QByteArray noisy = built({{QStringLiteral("pkg/noise.bin"), noise(65536, 3)}});
    const QString lzma = QStringLiteral("Update Error: could not uncompress lzma, code: %1");
    const QString readFile = QStringLiteral("Update Error: cant read file from downloaded stream, status: %1");
    const QString open = QStringLiteral("Update Error: cant open file '<temp>/%1' for writing");

    QTest::newRow("shorter than a header and one byte")
        << good.left(157) << 290 << QStringLiteral("Update Error: update file too short, size: 157");
    QTest::newRow("digest of other bytes") << withByte(good, good.size() - 1, good.back() ^ 1) << 317
                                           << QStringLiteral("Update Error: bad SHA1 hash of update file!");
    QTest::newRow("properties out of range") << redigested(withByte(good, kPropertiesAt, char(225))) << 335
                                             << lzma.arg(8);
    QTest::newRow("negative size") << withDeclaredSize(good, -1) << 333 << lzma.arg(9);
    QTest::newRow("size above 1 GiB") << withDeclaredSize(good, (1 << 30) + 1) << 333 << lzma.arg(6);
    QTest::newRow("size past the end marker") << withDeclaredSize(good, size + 1) << 335 << lzma.arg(9);
    // Raw LZMA1 answers "OK" for a while on a cut stream; the output would be left part zeros.
    QTest::newRow("stream cut short") << redigested(noisy.left(noisy.size() - 2000)) << 337 << lzma.arg(10);
    QTest::newRow("size short of the content") << withDeclaredSize(good, size - 1) << 376 << readFile.arg(1);

    QTest::newRow("no version") << sealed(QByteArray(2, '\0')) << 351
                                << QStringLiteral("Update Error: cant read version from downloaded stream, status: 1");
    QTest::newRow("version of an odd byte count")
        << sealed(QByteArray("\0\0\0\3abc", 7)) << 351
        << QStringLiteral("Update Error: cant read version from downloaded stream, status: 2");
    QTest::newRow("no file count") << sealed(content(0, {}).left(10)) << 362
                                   << QStringLiteral("Update Error: cant read files count from downloaded stream, status: 1");
    QTest::newRow("empty list") << sealed(content(0, {})) << 366 << QStringLiteral("Update Error: update is empty!");
    QTest::newRow("count beyond the list") << sealed(content(2, {{QStringLiteral("pkg/a"), 1, "a"}})) << 376
                                           << readFile.arg(1);
    QByteArray longer = content(1, {});
    {
        QDataStream out(&longer, QIODevice::Append);
        out << QStringLiteral("pkg/a") << quint32(100) << quint32(100);
        out.writeRawData("abc", 3);
    }
    QTest::newRow("content longer than the stream") << sealed(longer) << 376 << readFile.arg(1);
    QTest::newRow("declared size differs") << sealed(content(1, {{QStringLiteral("pkg/a"), 5, "abcd"}})) << 380
                                           << QStringLiteral("Update Error: bad file size 5 not matching data size 4");

    const QStringList unsafe = {
        QStringLiteral("pkg/../escape.txt"),
        QStringLiteral("pkg/sub/../../escape.txt"),
        QStringLiteral("/abs/escape.txt"),
        QStringLiteral("pkg/..\\escape.txt"),
        QStringLiteral("pkg//escape.txt"),
        QStringLiteral("pkg/sub/"),
        QStringLiteral("pkg/."),
        QStringLiteral("pkg/.../escape.txt"),
        QStringLiteral("pkg/C:/escape.txt"),
        QStringLiteral("pkg/a\x01.txt"),
        QStringLiteral("pkg/view/Nul.txt"),
    };
    for (const QString &name : unsafe)
        QTest::addRow("unsafe name %s", qPrintable(name)) << withName(name) << 405 << open.arg(name);
    // Nothing after the prefix: the target is the folder itself, which cannot be opened as a file.
    QTest::newRow("name without /") << withName(QStringLiteral("escape.txt")) << 407 << open.arg("escape.txt");
}

void TestUpdatePackage::refuses()
{
    QFETCH(QByteArray, package);
    QFETCH(int, line);
    QFETCH(QString, message);

    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString temp = tmp.filePath(QStringLiteral("client/temp"));
    QString version = QStringLiteral("untouched");
    Failure failure;
    QVERIFY(!UpdatePackage::unpack(package, temp, {}, &version, &failure));
    QCOMPARE(failure.line, line);
    QCOMPARE(failure.message, message.replace(QStringLiteral("<temp>"), temp));
    QCOMPARE(version, QStringLiteral("untouched"));
    QCOMPARE(tree(tmp.path()), FileMap());
}

void TestUpdatePackage::leftoverTempFolderIsNotReused()
{
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString temp = tmp.filePath(QStringLiteral("temp"));
    QVERIFY(QDir().mkpath(temp + QStringLiteral("/old")));
    QString version;
    Failure failure;
    QVERIFY(!UpdatePackage::unpack(built({{QStringLiteral("pkg/a.txt"), "a"}}), temp, {}, &version, &failure));
    QCOMPARE(failure.line, 345);
    QCOMPARE(tree(tmp.path()), FileMap({{"temp/", {}}, {"temp/old/", {}}}));
}

void TestUpdatePackage::signature_data()
{
    QTest::addColumn<QByteArray>("package");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<bool>("unpacks");

    const QVector<Entry> files = {{QStringLiteral("pkg/a.txt"), "signed content"}};
    const QByteArray signedPackage = built(files, secretKey());
    const QByteArray unsignedPackage = built(files);
    const QByteArray flipped = withByte(signedPackage, 10, signedPackage.at(10) ^ 0x20);
    // The digest is anyone's to recompute; only the signature binds the content to the vendor.
    const QByteArray altered = redigested(withByte(signedPackage, signedPackage.size() - 1, signedPackage.back() ^ 1));
    const QByteArray junk = withByte(signedPackage, 100, 1);

    QTest::newRow("signed, key") << signedPackage << publicKey() << true;
    QTest::newRow("unsigned, key") << unsignedPackage << publicKey() << false;
    QTest::newRow("signature changed, key") << flipped << publicKey() << false;
    QTest::newRow("content changed and redigested, key") << altered << publicKey() << false;
    QTest::newRow("bytes after the signature, key") << junk << publicKey() << false;
    QTest::newRow("key of the wrong length") << signedPackage << publicKey().left(31) << false;
    QTest::newRow("signed, no key") << signedPackage << QByteArray() << true;
    QTest::newRow("unsigned, no key") << unsignedPackage << QByteArray() << true;
    QTest::newRow("signature changed, no key") << flipped << QByteArray() << true;
}

void TestUpdatePackage::signature()
{
    QFETCH(QByteArray, package);
    QFETCH(QByteArray, key);
    QFETCH(bool, unpacks);

    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString temp = tmp.filePath(QStringLiteral("temp"));
    QString version;
    Failure failure;
    QCOMPARE(UpdatePackage::unpack(package, temp, key, &version, &failure), unpacks);
    if (unpacks) {
        QCOMPARE(tree(temp), FileMap({{"a.txt", "signed content"}}));
    } else {
        QCOMPARE(failure.line, 319);
        QCOMPARE(failure.message, QStringLiteral("Update Error: bad SHA1 hash of update file!"));
        QCOMPARE(tree(tmp.path()), FileMap());
    }
}

void TestUpdatePackage::builtInKeyDecides()
{
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    QString version;
    Failure failure;
    const bool unpacked = UpdatePackage::unpack(built({{QStringLiteral("pkg/a.txt"), "a"}}),
                                                tmp.filePath(QStringLiteral("temp")), &version, &failure);
    if (UpdatePackage::vendorPublicKey().isEmpty()) {
        QVERIFY2(unpacked, qPrintable(failure.message));
    } else {
        QCOMPARE(UpdatePackage::vendorPublicKey().size(), UpdatePackage::kPublicKeySize);
        QVERIFY(!unpacked);
        QCOMPARE(failure.line, 319);
    }
}

void TestUpdatePackage::buildRefusesWhatUnpackWould()
{
    QString error;
    QVERIFY(UpdatePackage::build(QStringLiteral("1"), {}, {}, &error).isEmpty());
    QVERIFY(!error.isEmpty());
    error.clear();
    QVERIFY(UpdatePackage::build(QStringLiteral("1"), {{QStringLiteral("pkg/../a"), "a"}}, {}, &error).isEmpty());
    QVERIFY(error.contains(QStringLiteral("pkg/../a")));
    error.clear();
    QVERIFY(UpdatePackage::build(QStringLiteral("1"), {{QStringLiteral("pkg/a"), "a"}}, publicKey(), &error).isEmpty());
    QVERIFY(!error.isEmpty());
}

void TestUpdatePackage::mkupdatePackageUnpacks_data()
{
    // FOLDER as given, run from tmp: names are below FOLDER whichever way it is written.
    QTest::addColumn<QString>("folder");
    QTest::newRow("absolute") << "";
    QTest::newRow("relative") << "./source";
    QTest::newRow("relative, roundabout") << "source/../source/";
}

void TestUpdatePackage::mkupdatePackageUnpacks()
{
    QFETCH(QString, folder);
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const FileMap files = {{"index.html", "<html/>"},
                           {"js/app.js", QByteArray(5000, 'j')},
                           {"js/lib/deep.js", noise(3000, 9)},
                           {".config", "hidden"},
                           {"empty", {}}};
    const QDir source(tmp.filePath(QStringLiteral("source")));
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        QVERIFY(QDir().mkpath(QFileInfo(source.filePath(it.key())).absolutePath()));
        QFile file(source.filePath(it.key()));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(it.value()), qint64(it.value().size()));
    }

    const QString output = tmp.filePath(QStringLiteral("html.pkg"));
    QProcess mkupdate;
    mkupdate.setWorkingDirectory(tmp.path());
    mkupdate.start(QStringLiteral(MKUPDATE), {"--sign", secretKeyFile(), "--prefix", "html", "--version", "3.0.1",
                                              folder.isEmpty() ? source.path() : folder, output});
    QVERIFY(mkupdate.waitForFinished(60000));
    QVERIFY2(mkupdate.exitStatus() == QProcess::NormalExit && mkupdate.exitCode() == 0,
             mkupdate.readAllStandardError().constData());

    QFile file(output);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString temp = tmp.filePath(QStringLiteral("temp"));
    QString version;
    Failure failure;
    QVERIFY2(UpdatePackage::unpack(file.readAll(), temp, publicKey(), &version, &failure),
             qPrintable(failure.message));
    QCOMPARE(version, QStringLiteral("3.0.1"));
    QCOMPARE(onlyFiles(tree(temp)), files);
}

void TestUpdatePackage::mkupdateRefuses_data()
{
    QTest::addColumn<QStringList>("arguments"); // <tmp> stands for the test's folder

    const QString key = secretKeyFile();
    QTest::newRow("missing folder") << QStringList{"--version", "1", "<tmp>/nothing", "<tmp>/out.pkg"};
    QTest::newRow("empty folder") << QStringList{"--version", "1", "<tmp>/empty", "<tmp>/out.pkg"};
    QTest::newRow("output in a missing folder")
        << QStringList{"--version", "1", "<tmp>/source", "<tmp>/nowhere/out.pkg"};
    QTest::newRow("output is a folder") << QStringList{"--version", "1", "<tmp>/source", "<tmp>/empty"};
    QTest::newRow("link to a folder") << QStringList{"--version", "1", "<tmp>/linked", "<tmp>/out.pkg"};
    QTest::newRow("key file without a key")
        << QStringList{"--sign", "<tmp>/source/a.txt", "--version", "1", "<tmp>/source", "<tmp>/out.pkg"};
    QTest::newRow("missing key file")
        << QStringList{"--sign", "<tmp>/none.key", "--version", "1", "<tmp>/source", "<tmp>/out.pkg"};
    QTest::newRow("no version") << QStringList{"--sign", key, "<tmp>/source", "<tmp>/out.pkg"};
    QTest::newRow("prefix of two names")
        << QStringList{"--prefix", "a/b", "--version", "1", "<tmp>/source", "<tmp>/out.pkg"};
    QTest::newRow("no output") << QStringList{"--version", "1", "<tmp>/source"};
}

void TestUpdatePackage::mkupdateRefuses()
{
    QFETCH(QStringList, arguments);

    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    QVERIFY(QDir().mkpath(tmp.filePath(QStringLiteral("source"))));
    QVERIFY(QDir().mkpath(tmp.filePath(QStringLiteral("empty"))));
    QVERIFY(QDir().mkpath(tmp.filePath(QStringLiteral("linked"))));
    QFile file(tmp.filePath(QStringLiteral("source/a.txt")));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("a") == 1);
    file.close();
    QVERIFY(QFile::link(tmp.filePath(QStringLiteral("source")), tmp.filePath(QStringLiteral("linked/source"))));
    arguments.replaceInStrings(QStringLiteral("<tmp>"), tmp.path());

    QProcess mkupdate;
    mkupdate.start(QStringLiteral(MKUPDATE), arguments);
    QVERIFY(mkupdate.waitForFinished(60000));
    QCOMPARE(mkupdate.exitStatus(), QProcess::NormalExit);
    QVERIFY(mkupdate.exitCode() != 0);
    QVERIFY(mkupdate.readAllStandardError().startsWith("mkupdate: "));
    QVERIFY(!QFileInfo::exists(tmp.filePath(QStringLiteral("out.pkg"))));
    QCOMPARE(QDir(tmp.filePath(QStringLiteral("empty"))).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList());
}

QTEST_APPLESS_MAIN(TestUpdatePackage)
#include "tst_update_package.moc"
