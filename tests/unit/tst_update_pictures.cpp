// The application style sheet with the update dialog's rules: it parses (Qt drops a whole sheet
// over one syntax error) and every picture it names is built into the program.
#include "update_resources.h"

#include <QApplication>
#include <QFile>
#include <QPushButton>
#include <QtTest>

namespace {

QStringList g_styleWarnings;

void recordStyleWarnings(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type != QtDebugMsg)
        g_styleWarnings << message;
}

} // namespace

class TestUpdatePictures : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void styleSheetParses();
    void everyPictureTheSheetNamesExists();
};

void TestUpdatePictures::initTestCase()
{
    UpdateResources::init();
}

void TestUpdatePictures::styleSheetParses()
{
    QFile sheet(QStringLiteral(":/qss/vexa"));
    QVERIFY(sheet.open(QIODevice::ReadOnly));
    g_styleWarnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(recordStyleWarnings);
    qApp->setStyleSheet(QString::fromUtf8(sheet.readAll()));
    // Qt parses an application sheet when it first polishes a widget.
    QPushButton probe(QStringLiteral("x"));
    probe.ensurePolished();
    qInstallMessageHandler(previous);
    QVERIFY2(g_styleWarnings.isEmpty(), qPrintable(g_styleWarnings.join('\n')));
}

void TestUpdatePictures::everyPictureTheSheetNamesExists()
{
    QFile sheet(QStringLiteral(":/qss/vexa"));
    QVERIFY(sheet.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(sheet.readAll());
    QRegularExpressionMatchIterator urls = QRegularExpression(QStringLiteral("url\\(([^)]*)\\)")).globalMatch(text);
    int count = 0;
    while (urls.hasNext()) {
        const QString path = urls.next().captured(1).trimmed();
        QVERIFY2(!QImage(path).isNull(), qPrintable(path));
        ++count;
    }
    QCOMPARE(count, 11);
}

QTEST_MAIN(TestUpdatePictures)
#include "tst_update_pictures.moc"
