// The window a user sees after vexa crashed: what happened, where the dump is and how big it is,
// and the three things one wants next (look at it, pass the path on, carry on working).
#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLocale>
#include <QProcess>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>
#include <QWidget>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("CrashReporter"));
    const QStringList arguments = QApplication::arguments();
    const QFileInfo dump(arguments.size() > 1 ? arguments.at(1) : QString());

    QWidget window;
    window.setWindowTitle(QStringLiteral("vexa"));
    auto *layout = new QVBoxLayout(&window);
    auto *headline = new QLabel(QStringLiteral("<b>vexa stopped unexpectedly.</b>"));
    layout->addWidget(headline);
    QString where;
    if (dump.exists()) {
        where = QStringLiteral("A crash report was saved (%1):").arg(QLocale().formattedDataSize(dump.size()));
    } else {
        // The handler hands over the path even when writing failed.
        where = QStringLiteral("No crash report could be saved; it would have been:");
    }
    layout->addWidget(new QLabel(where));
    auto *path = new QLabel(QDir::toNativeSeparators(dump.absoluteFilePath()));
    path->setTextInteractionFlags(Qt::TextSelectableByMouse);
    path->setWordWrap(true);
    layout->addWidget(path);

    auto *buttons = new QDialogButtonBox;
    QPushButton *openFolder = buttons->addButton(QStringLiteral("Open folder"), QDialogButtonBox::ActionRole);
    QPushButton *copyPath = buttons->addButton(QStringLiteral("Copy path"), QDialogButtonBox::ActionRole);
    QPushButton *restart = buttons->addButton(QStringLiteral("Start vexa again"), QDialogButtonBox::AcceptRole);
    QPushButton *close = buttons->addButton(QDialogButtonBox::Close);
    layout->addWidget(buttons);
    openFolder->setEnabled(dump.absoluteDir().exists());
    restart->setDefault(true);

    QObject::connect(openFolder, &QPushButton::clicked, [&] {
        QDesktopServices::openUrl(QUrl::fromLocalFile(dump.absolutePath()));
    });
    QObject::connect(copyPath, &QPushButton::clicked, [&] {
        QGuiApplication::clipboard()->setText(QDir::toNativeSeparators(dump.absoluteFilePath()));
    });
    QObject::connect(restart, &QPushButton::clicked, [&] {
        // vexa lives beside its reporter.
        const QString program = QApplication::applicationDirPath() + QStringLiteral("/" VEXA_PROGRAM_NAME);
        if (QProcess::startDetached(program, {}, QApplication::applicationDirPath()))
            app.quit();
        else
            headline->setText(QStringLiteral("<b>vexa could not be started again.</b>"));
    });
    QObject::connect(close, &QPushButton::clicked, &app, &QApplication::quit);

    window.show();
    return app.exec();
}
