#include "pspecific_wnd.h"

#include "detached_process.h"
#include "install_records.h"
#include "page_install.h"
#include "update_kinds.h"
#include "update_folders.h"
#include "update_log.h"
#include "update_package.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QDeadlineTimer>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

bool restartToUpdate = false;
bool restartAfterUpdate = false;
bool updaterWriteProtected = false;
QString pendingClientVersion;

namespace {

const char kSource[] = "pspecific_wnd";

// Support knows these log lines by their numbers; lines of our own take numbers above them.
enum LogLine {
    kCantReadLine = 286,
    kDigestLine = 317,
    kRenameLine = 421,
    kExecutingLine = 441,
    kExecuteFailedLine = 444,
    kStalledLine = 600,
    kRangeLine = 601,
    kNoElevationLine = 602,
    kLeftoverLine = 603,
};

// Shorter than this cannot be a package: the fixed header and at least one compressed byte.
constexpr qint64 kMinimumPackageSize = 158;

void removePlainFilesExcept(const QString &folder, const QStringList &keep)
{
    const QFileInfoList entries = QDir(folder).entryInfoList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QFileInfo &entry : entries)
        if (!keep.contains(entry.absoluteFilePath()))
            QFile::remove(entry.absoluteFilePath());
}

// The journal of a page installation that could not be undone yet is the only way back to the
// old page; it is no leftover of a download.
QString keptJournal(const QString &applicationDir, const QString &kind)
{
    return kind == UpdateKinds::kHtml ? QFileInfo(PageInstall::journalPath(applicationDir)).absoluteFilePath()
                                      : QString();
}

// The first byte of a "Content-Range: bytes first-last/total" value; -1 when there is none.
// *total: the whole file's size, -1 when the value does not say.
qint64 contentRangeStart(const QByteArray &value, qint64 *total)
{
    *total = -1;
    static const QRegularExpression pattern(QStringLiteral("^\\s*bytes\\s+(\\d+)-\\d+/(\\d+|\\*)\\s*$"),
                                            QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = pattern.match(QString::fromLatin1(value));
    if (!match.hasMatch())
        return -1;
    bool ok = false;
    const qint64 start = match.captured(1).toLongLong(&ok);
    bool totalOk = false;
    const qint64 size = match.captured(2).toLongLong(&totalOk);
    if (totalOk)
        *total = size;
    return ok ? start : -1;
}

// Threads of downloaders that were let go (a closed dialog, a retry), until they are deleted.
// Only the GUI thread touches it.
QSet<QObject *> &retiredThreads()
{
    static QSet<QObject *> threads;
    return threads;
}

} // namespace

QString installerFileName()
{
#ifdef Q_OS_WIN
    return QStringLiteral("Updater.exe");
#else
    return QStringLiteral("Updater");
#endif
}

bool launchUpdater(const QString &applicationDir, const QString &version)
{
    const QString folder = QDir::cleanPath(applicationDir);
    const QString installer = folder + QLatin1Char('/') + installerFileName();
    const QString nativeInstaller = QDir::toNativeSeparators(installer);
    const QString nativeFolder = QDir::toNativeSeparators(folder);
    if (updaterWriteProtected) {
        // Elevating the installer cannot help: it would outlive no parent to ask for it, and it
        // would start vexa as root. The dialog has told the user already.
        UpdateLog::info(kSource, kNoElevationLine,
                        QStringLiteral("Application Error: %1 may not replace the files in %2; the installer was not started")
                            .arg(nativeInstaller, nativeFolder));
        return false;
    }
    QStringList arguments{QStringLiteral("-update")};
    if (!version.isEmpty())
        arguments << QStringLiteral("-version") << version;
    if (restartAfterUpdate)
        arguments << QStringLiteral("-restart");
    UpdateLog::info(kSource, kExecutingLine,
                    QStringLiteral("Application Info: executing %1 %2").arg(installer, arguments.join(QLatin1Char(' '))));

    // Whatever installer is there, the next start records the version once the files are in.
    InstallRecords::noteClientPackage(folder, version);
    // Only the standard descriptors: the browser's channels to its zygotes, kept open in the
    // installer and in the vexa it starts again, would keep the old zygotes running beside it.
    platform::DetachedProgram installerStart;
    installerStart.program = nativeInstaller;
    installerStart.arguments = arguments;
    installerStart.workingDirectory = nativeFolder;
    QString why;
    if (platform::startDetached(installerStart, nullptr, &why))
        return true;
    InstallRecords::forgetClientPackage(folder);

    UpdateLog::info(kSource, kExecuteFailedLine,
                    QStringLiteral("Application Error: failed to execute %1, working directory: '%2', result: %3")
                        .arg(nativeInstaller, nativeFolder, why));
    UpdateFolders::removeTree(UpdateFolders::ready(folder, QStringLiteral("client")));
    return false;
}

PsUpdateDownloader::PsUpdateDownloader(QThread *thread, const QString &updateUrl, const QString &kind,
                                       const QString &applicationDir, int stallTimeoutMs)
    : m_updateUrl(updateUrl),
      m_kind(kind),
      m_applicationDir(applicationDir.isEmpty() ? QCoreApplication::applicationDirPath() : applicationDir),
      m_stallTimer(new QTimer(this))
{
    static const int failureType = qRegisterMetaType<UpdateFailure>("UpdateFailure");
    Q_UNUSED(failureType)
    m_stallTimer->setSingleShot(true);
    m_stallTimer->setInterval(stallTimeoutMs);
    connect(m_stallTimer, &QTimer::timeout, this, &PsUpdateDownloader::stalled);
    moveToThread(thread);
    connect(thread, &QThread::started, this, &PsUpdateDownloader::start);
    prepareOutputFile();
}

PsUpdateDownloader::~PsUpdateDownloader()
{
    if (QNetworkReply *reply = takeReply())
        reply->abort();
    m_outputFile.close();
}

void PsUpdateDownloader::cancel()
{
    m_cancelled = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (QNetworkReply *reply = takeReply())
                reply->abort();
            m_outputFile.close();
        },
        Qt::QueuedConnection);
}

void PsUpdateDownloader::retire(QThread *thread, PsUpdateDownloader *downloader)
{
    if (downloader)
        downloader->cancel();
    if (!thread)
        return;
    if (!thread->isRunning()) {
        delete downloader;
        delete thread;
        return;
    }
    retiredThreads().insert(thread);
    QObject::connect(thread, &QObject::destroyed, [](QObject *gone) { retiredThreads().remove(gone); });
    QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    // The downloader goes with the thread (finished → deleteLater, connected by its owner).
    thread->quit();
}

bool PsUpdateDownloader::finishAll(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    bool allEnded = true;
    const QSet<QObject *> threads = retiredThreads();
    for (QObject *thread : threads)
        allEnded = static_cast<QThread *>(thread)->wait(deadline) && allEnded;
    return allEnded;
}

qint64 PsUpdateDownloader::already() const
{
    QMutexLocker lock(&m_mutex);
    return m_already;
}

QByteArray PsUpdateDownloader::packageDigest() const
{
    QMutexLocker lock(&m_mutex);
    return m_digest;
}

QString PsUpdateDownloader::packageFileName(const QString &updateUrl)
{
    const QByteArray key = QUrl(updateUrl).adjusted(QUrl::RemoveFragment).toEncoded();
    return QStringLiteral("package-%1.pkg")
        .arg(QString::fromLatin1(QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex().left(24)));
}

void PsUpdateDownloader::prepareOutputFile()
{
    const QString name = packageFileName(m_updateUrl);

    const QString root = UpdateFolders::root(m_applicationDir);
    const QString kindFolder = UpdateFolders::kindFolder(m_applicationDir, m_kind);
    const QString path = QFileInfo(kindFolder + QLatin1Char('/') + name).absoluteFilePath();
    removePlainFilesExcept(root, {path});
    QDir().mkpath(root);
    removePlainFilesExcept(kindFolder, {path, keptJournal(m_applicationDir, m_kind)});
    QDir().mkpath(kindFolder);
    m_outputFile.setFileName(path);

    const QFileInfo info(path);
    qint64 kept = 0;
    if (info.isFile() && info.size() < 2147483647) {
        const qint64 rounded = info.size() - info.size() % kResumeStep;
        if (rounded == info.size())
            kept = rounded;
        else if (rounded != 0 && QFile::resize(path, rounded))
            kept = rounded;
    }
    if (kept == 0)
        QFile::remove(path);
    QMutexLocker lock(&m_mutex);
    m_already = kept;
}

void PsUpdateDownloader::start()
{
    sendRequest();
}

void PsUpdateDownloader::sendRequest()
{
    const QUrl url(m_updateUrl);
    // Anything else (a file: address above all) would read, or wait on, whatever the offer
    // names on this machine, with no time-out to end it.
    if (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https")) {
        fatalFailure(UpdateFailure::Server, QStringLiteral("%1 is not a web address").arg(m_updateUrl));
        return;
    }
    if (!m_manager)
        m_manager = new QNetworkAccessManager(this);
    QNetworkRequest request{url};
    request.setRawHeader("Range", "bytes=" + QByteArray::number(already()) + '-');
    // Byte offsets into the file must be offsets into what the server stores: no compression
    // by Qt or a proxy on the way.
    request.setRawHeader("Accept-Encoding", "identity");
    request.setAttribute(QNetworkRequest::HttpPipeliningAllowedAttribute, true);
    // Package addresses may lead to a mirror; never from https down to http.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);

    if (QNetworkReply *previous = takeReply())
        previous->abort();
    m_reply = m_manager->get(request);
    // Qt's network side otherwise takes in whatever the server sends, however fast and however
    // much: an endless body would fill the memory faster than the file takes it.
    m_reply->setReadBufferSize(kReadBufferSize);
    m_replyStartChecked = false;
    m_replyReceived = 0;
    m_declaredSize = -1;
    // Bytes are taken as they arrive: Qt holds progress signals back to one per 100 ms, so the
    // last bytes before a stall, and a full read buffer, would wait for a signal that never comes.
    connect(m_reply, &QNetworkReply::readyRead, this, &PsUpdateDownloader::partArrived);
    connect(m_reply, &QNetworkReply::downloadProgress, this, &PsUpdateDownloader::partFinished);
    connect(m_reply, &QNetworkReply::errorOccurred, this, &PsUpdateDownloader::partFailed);
    connect(m_reply, &QNetworkReply::metaDataChanged, this, &PsUpdateDownloader::partMetaGot);
    QNetworkReply *reply = m_reply;
    connect(m_reply, &QNetworkReply::finished, this, [this, reply] { replyFinished(reply); });
    m_stallTimer->start();
}

void PsUpdateDownloader::partMetaGot()
{
    if (m_reply)
        m_stallTimer->start();
}

bool PsUpdateDownloader::replyStatusAccepted()
{
    const QVariant status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid())
        return true;
    const int code = status.toInt();
    // The body of a 416 is the server's error page, not package bytes; partFailed takes the 416
    // as "already complete".
    if (code == 416)
        return false;
    if (code != 200 && code != 206) {
        fatalFailure(UpdateFailure::Server, QStringLiteral("HTTP status %1 for %2").arg(code).arg(m_updateUrl));
        return false;
    }
    if (!m_replyStartChecked) {
        if (!acceptReplyStart(code))
            return false;
        m_replyStartChecked = true;
    }
    return true;
}

void PsUpdateDownloader::partArrived()
{
    if (!m_reply)
        return;
    m_stallTimer->start();
    if (replyStatusAccepted())
        appendAvailable();
}

void PsUpdateDownloader::partFinished(qint64 got, qint64 total)
{
    if (!m_reply)
        return;
    m_stallTimer->start();
    if (!replyStatusAccepted())
        return;
    emit finishPart(got, total);
    if (!appendAvailable())
        return;
    // An unknown length (-1) is only known to be complete when the reply finishes.
    if (total >= 0 && got >= total)
        complete();
}

bool PsUpdateDownloader::acceptReplyStart(int status)
{
    const qint64 have = already();
    if (status == 200) {
        const QVariant length = m_reply->header(QNetworkRequest::ContentLengthHeader);
        m_declaredSize = length.isValid() ? length.toLongLong() : -1;
        if (!declaredSizeFits())
            return false;
        // The server ignored the range and sends the whole package from its first byte.
        if (have > 0)
            startFileAgain();
        return true;
    }
    const qint64 start = contentRangeStart(m_reply->rawHeader("Content-Range"), &m_declaredSize);
    if (!declaredSizeFits())
        return false;
    if (start == have)
        return true;
    UpdateLog::info(kSource, kRangeLine,
                    QStringLiteral("Update Error: asked for %1 from byte %2, the server sent bytes from %3")
                        .arg(m_updateUrl)
                        .arg(have)
                        .arg(start));
    if (have == 0) {
        // Not even the whole package from its start: nothing to build a file from.
        fatalFailure(UpdateFailure::Server,
                     QStringLiteral("%1 sent bytes from %2 instead of the whole package").arg(m_updateUrl).arg(start));
        return false;
    }
    if (QNetworkReply *reply = takeReply())
        reply->abort();
    startFileAgain();
    sendRequest();
    return false;
}

bool PsUpdateDownloader::declaredSizeFits()
{
    if (m_declaredSize <= m_sizeLimit)
        return true;
    fatalFailure(UpdateFailure::Server, QStringLiteral("%1 announces %2 bytes, more than any package (%3)")
                                            .arg(m_updateUrl)
                                            .arg(m_declaredSize)
                                            .arg(m_sizeLimit));
    return false;
}

void PsUpdateDownloader::startFileAgain()
{
    m_outputFile.close();
    QFile::remove(m_outputFile.fileName());
    QMutexLocker lock(&m_mutex);
    m_already = 0;
}

bool PsUpdateDownloader::appendAvailable()
{
    if (!m_outputFile.isOpen() && !m_outputFile.open(QIODevice::Append)) {
        fatalFailure(UpdateFailure::Disk,
                     QStringLiteral("cannot write %1: %2").arg(m_outputFile.fileName(), m_outputFile.errorString()));
        return false;
    }
    const QByteArray bytes = m_reply->readAll();
    if (bytes.isEmpty())
        return true;
    // Neither an endless body nor more than the server itself announced goes to the disk.
    const qint64 size = already() + bytes.size();
    if (size > m_sizeLimit || (m_declaredSize >= 0 && size > m_declaredSize)) {
        fatalFailure(UpdateFailure::Server, QStringLiteral("%1 sent more than %2 bytes")
                                                .arg(m_updateUrl)
                                                .arg(m_declaredSize >= 0 ? qMin(m_declaredSize, m_sizeLimit) : m_sizeLimit));
        return false;
    }
    if (m_outputFile.write(bytes) != bytes.size()) {
        // A full disk: whatever made it into the file is no longer known to be whole.
        fatalFailure(UpdateFailure::Disk,
                     QStringLiteral("cannot write %1: %2").arg(m_outputFile.fileName(), m_outputFile.errorString()));
        return false;
    }
    m_replyReceived += bytes.size();
    QMutexLocker lock(&m_mutex);
    m_already += bytes.size();
    return true;
}

void PsUpdateDownloader::replyFinished(QNetworkReply *finished)
{
    // Errors went to partFailed; a reply of unknown length ends here.
    if (finished != m_reply || finished->error() != QNetworkReply::NoError)
        return;
    const int code = finished->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (code != 0 && code != 200 && code != 206) {
        fatalFailure(UpdateFailure::Server, QStringLiteral("HTTP status %1 for %2").arg(code).arg(m_updateUrl));
        return;
    }
    if (code != 0 && !m_replyStartChecked) {
        if (!acceptReplyStart(code))
            return;
        m_replyStartChecked = true;
    }
    if (!appendAvailable())
        return;
    // Qt ends a reply whose server closed the connection early without an error when the
    // server announced the close; the announced length tells.
    const QVariant length = finished->header(QNetworkRequest::ContentLengthHeader);
    if (length.isValid() && m_replyReceived < length.toLongLong()) {
        takeReply();
        m_outputFile.close();
        emit downLoadFailed();
        return;
    }
    complete();
}

void PsUpdateDownloader::partFailed(QNetworkReply::NetworkError)
{
    if (!m_reply)
        return;
    const QVariant status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const int code = status.toInt();
    // Qt reports a cut connection before the progress of the bytes that came with it: they
    // still continue the file, and the next attempt resumes after them.
    if ((code == 200 || code == 206) && !(replyStatusAccepted() && appendAvailable()))
        return;
    takeReply();
    m_outputFile.close();
    if (status.isValid()) {
        // The range starts at or after the end: the file is complete already.
        if (code == 416) {
            unpack();
            return;
        }
        // The server answered, and not with the package: as fatal as during the body.
        if (code != 200 && code != 206) {
            fatalFailure(UpdateFailure::Server, QStringLiteral("HTTP status %1 for %2").arg(code).arg(m_updateUrl));
            return;
        }
    }
    emit downLoadFailed();
}

void PsUpdateDownloader::stalled()
{
    if (!m_reply)
        return;
    // What arrived before the server went quiet continues the file, as after a cut connection.
    if (replyStatusAccepted() && !appendAvailable())
        return;
    QNetworkReply *reply = takeReply();
    if (!reply)
        return;
    UpdateLog::info(kSource, kStalledLine,
                    QStringLiteral("Update Error: nothing received from %1 for %2 ms")
                        .arg(m_updateUrl)
                        .arg(m_stallTimer->interval()));
    reply->abort();
    m_outputFile.close();
    emit downLoadFailed();
}

QNetworkReply *PsUpdateDownloader::takeReply()
{
    QNetworkReply *reply = m_reply;
    m_reply = nullptr;
    m_stallTimer->stop();
    if (reply) {
        // Whatever the reply still says (an abort reports an error and a finish) is not ours.
        reply->disconnect(this);
        reply->deleteLater();
    }
    return reply;
}

void PsUpdateDownloader::complete()
{
    takeReply();
    m_outputFile.close();
    emit downLoadFinished();
    unpack();
}

bool PsUpdateDownloader::digestHolds()
{
    QFile package(m_outputFile.fileName());
    if (!package.open(QIODevice::ReadOnly) || package.size() < kMinimumPackageSize)
        return true; // said by the steps that follow
    const QByteArray stored = package.read(148).mid(128, 20);
    QCryptographicHash sha1(QCryptographicHash::Sha1);
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    for (;;) {
        if (m_cancelled)
            return true;
        const qint64 got = package.read(buffer.data(), buffer.size());
        if (got <= 0)
            break;
        sha1.addData(buffer.constData(), int(got));
    }
    return sha1.result() == stored;
}

void PsUpdateDownloader::unpack()
{
    // A package that is not what it claims is told without ever being held in memory whole.
    if (!digestHolds()) {
        const QString message = QStringLiteral("Update Error: bad SHA1 hash of update file!");
        UpdateLog::info(kSource, kDigestLine, message);
        fatalFailure(UpdateFailure::Damaged, message);
        return;
    }
    QFile package(m_outputFile.fileName());
    if (!package.open(QIODevice::ReadOnly)) {
        UpdateLog::info(kSource, kCantReadLine, QStringLiteral("Update Erro: cant read updates file!"));
        fatalFailure(UpdateFailure::Disk, QStringLiteral("cannot read %1").arg(package.fileName()));
        return;
    }
    const QByteArray bytes = package.readAll();
    package.close();
    if (bytes.size() < kMinimumPackageSize) {
        fatalFailure(UpdateFailure::Damaged, QStringLiteral("the package has only %1 bytes").arg(bytes.size()));
        return;
    }

    const QString temp = UpdateFolders::temp(m_applicationDir, m_kind);
    const QString ready = UpdateFolders::ready(m_applicationDir, m_kind);
    if (!UpdateFolders::removeTree(temp) || !UpdateFolders::removeTree(ready)) {
        fatalFailure(UpdateFailure::Disk, QStringLiteral("cannot clear %1 or %2").arg(temp, ready));
        return;
    }

    QString version;
    UpdatePackage::Failure failure;
    if (!UpdatePackage::unpack(bytes, temp, &version, &failure, &m_cancelled)) {
        if (failure.cause == UpdatePackage::Failure::Cancelled) {
            // Nothing is said: whoever cancelled has gone. The package file stays for a resume.
            UpdateFolders::removeTree(temp);
            return;
        }
        if (!failure.message.isEmpty())
            UpdateLog::info(kSource, failure.line, failure.message);
        fatalFailure(failure.cause == UpdatePackage::Failure::Disk ? UpdateFailure::Disk : UpdateFailure::Damaged,
                     failure.message);
        return;
    }
    if (!QDir().rename(temp, ready)) {
        const QString message = QStringLiteral("Update Error: cant rename temp dir '%1' to ready dir '%2'").arg(temp, ready);
        UpdateLog::info(kSource, kRenameLine, message);
        fatalFailure(UpdateFailure::Disk, message);
        return;
    }
    {
        QMutexLocker lock(&m_mutex);
        m_digest = bytes.mid(UpdatePackage::kDigestOffset, UpdatePackage::kDigestSize);
    }
    // The package is unpacked whole; a package file that will not go away only costs space (the
    // next downloader of this kind clears it), and must not leave the dialog waiting for ever.
    if (!QFile::remove(m_outputFile.fileName()))
        UpdateLog::info(kSource, kLeftoverLine,
                        QStringLiteral("Update Error: cant remove the unpacked package '%1'").arg(m_outputFile.fileName()));
    emit unpressFinished(version);
}

void PsUpdateDownloader::fatalFailure(UpdateFailure why, const QString &detail)
{
    // Only this kind's own data goes: a bad page package says nothing about a client package
    // downloaded beside it.
    if (QNetworkReply *reply = takeReply())
        reply->abort();
    m_outputFile.close();
    QFile::remove(m_outputFile.fileName());
    UpdateFolders::removeTree(UpdateFolders::temp(m_applicationDir, m_kind));
    UpdateFolders::removeTree(UpdateFolders::ready(m_applicationDir, m_kind));
    {
        QMutexLocker lock(&m_mutex);
        m_already = 0;
    }
    if (!m_cancelled)
        emit packageFailed(why, detail);
}
