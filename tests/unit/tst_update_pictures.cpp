// The update dialog's pictures and the application style sheet's rules for the dialog: every
// picture is there at its size, the sheet parses (Qt drops a whole sheet over one syntax error),
// and widgets named as the dialog names them get the sizes, fonts and pictures the rules promise.
#include "update_resources.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest>

namespace {

QStringList g_styleWarnings;

void recordStyleWarnings(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type != QtDebugMsg)
        g_styleWarnings << message;
}

bool near(QRgb a, QRgb b)
{
    return qAbs(qRed(a) - qRed(b)) <= 8 && qAbs(qGreen(a) - qGreen(b)) <= 8 && qAbs(qBlue(a) - qBlue(b)) <= 8;
}

} // namespace

class TestUpdatePictures : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void pictures_data();
    void pictures();
    void styleSheetParses();
    void everyPictureTheSheetNamesExists();
    void sizesAndFonts();
    void buttonFaces_data();
    void buttonFaces();

private:
    QWidget m_dialog;
};

void TestUpdatePictures::initTestCase()
{
    UpdateResources::init();
    m_dialog.setObjectName(QStringLiteral("updateDlg"));
}

void TestUpdatePictures::pictures_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("size");
    QTest::newRow("background") << ":/image/background" << QSize(600, 380);
    for (const char *state : {"normal", "hover", "press"}) {
        QTest::addRow("close %s", state) << QStringLiteral(":/image/close_%1").arg(state) << QSize(18, 18);
        QTest::addRow("cancel %s", state) << QStringLiteral(":/image/cancel_%1").arg(state) << QSize(104, 44);
        QTest::addRow("uninstall %s", state) << QStringLiteral(":/image/uninstall_%1").arg(state) << QSize(104, 44);
    }
    QTest::newRow("logo") << ":/image/logo" << QSize(268, 70);
    QTest::newRow("icon") << ":/marlith/icon.png" << QSize(256, 256);
}

void TestUpdatePictures::pictures()
{
    QFETCH(QString, path);
    QFETCH(QSize, size);
    const QImage image(path);
    QVERIFY2(!image.isNull(), qPrintable(path));
    QCOMPARE(image.size(), size);
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

void TestUpdatePictures::sizesAndFonts()
{
    auto *cancel = new QPushButton(QStringLiteral("cancel"), &m_dialog);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    auto *confirm = new QPushButton(QStringLiteral("confirm"), &m_dialog);
    confirm->setObjectName(QStringLiteral("pb_ok"));
    auto *logo = new QLabel(&m_dialog);
    logo->setObjectName(QStringLiteral("lb_logo"));
    auto *progress = new QProgressBar(&m_dialog);
    auto *text = new QLabel(QStringLiteral("Found the new version,update now?"), &m_dialog);
    text->setObjectName(QStringLiteral("lb_install"));
    for (QWidget *widget : {static_cast<QWidget *>(cancel), static_cast<QWidget *>(confirm), static_cast<QWidget *>(logo),
                            static_cast<QWidget *>(progress), static_cast<QWidget *>(text)})
        widget->ensurePolished();

    QCOMPARE(cancel->minimumSize(), QSize(104, 44));
    QCOMPARE(cancel->maximumSize(), QSize(104, 44));
    QCOMPARE(confirm->maximumSize(), QSize(104, 44));
    QCOMPARE(logo->minimumSize(), QSize(268, 70));
    QCOMPARE(progress->maximumSize(), QSize(480, 8));
    QCOMPARE(text->font().pixelSize(), 18);
    QVERIFY(text->font().bold());
    QCOMPARE(text->palette().color(QPalette::WindowText), QColor(0x96, 0x96, 0x96));
}

void TestUpdatePictures::buttonFaces_data()
{
    QTest::addColumn<QString>("objectName");
    QTest::addColumn<QString>("state");
    QTest::addColumn<QString>("picture");
    QTest::addColumn<QPoint>("sample");
    // Samples stay clear of the caption that the button draws over its picture. (A widget that
    // is told it is under the mouse still draws without :hover, so hover is left to
    // everyPictureTheSheetNamesExists.)
    for (const QString &state : {QStringLiteral("normal"), QStringLiteral("press")}) {
        QTest::addRow("close %s", qPrintable(state))
            << "btn_closeSetuper" << state << ":/image/close_" + state << QPoint(9, 9);
        if (state != QLatin1String("normal"))
            QTest::addRow("close corner %s", qPrintable(state))
                << "btn_closeSetuper" << state << ":/image/close_" + state << QPoint(2, 9);
        QTest::addRow("cancel %s", qPrintable(state))
            << "cancelButton" << state << ":/image/cancel_" + state << QPoint(6, 30);
        QTest::addRow("update %s", qPrintable(state))
            << "uninstallButton" << state << ":/image/uninstall_" + state << QPoint(6, 30);
        QTest::addRow("confirm %s", qPrintable(state))
            << "pb_ok" << state << ":/image/uninstall_" + state << QPoint(97, 8);
    }
}

void TestUpdatePictures::buttonFaces()
{
    QFETCH(QString, objectName);
    QFETCH(QString, state);
    QFETCH(QString, picture);
    QFETCH(QPoint, sample);
    QPushButton button(objectName == QLatin1String("btn_closeSetuper") ? QString() : QStringLiteral("Update"), &m_dialog);
    button.setObjectName(objectName);
    button.ensurePolished();
    const QImage face(picture);
    button.resize(face.size());
    button.setDown(state == QLatin1String("press"));
    const QImage drawn = button.grab().toImage();
    QVERIFY2(near(drawn.pixel(sample), face.pixel(sample)),
             qPrintable(QStringLiteral("drawn #%1, picture #%2")
                            .arg(drawn.pixel(sample), 8, 16, QLatin1Char('0'))
                            .arg(face.pixel(sample), 8, 16, QLatin1Char('0'))));
}

QTEST_MAIN(TestUpdatePictures)
#include "tst_update_pictures.moc"
