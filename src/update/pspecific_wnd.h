// Fetching and unpacking one update package, and starting the installer when the program ends.
//
// A downloader keeps the package file in tupdates/<kind>/ and resumes it across attempts: a
// partial file is kept in whole steps of kResumeStep bytes and asked for from there on. Once the
// package is complete it is unpacked into tupdates/<kind>/temp, which becomes
// tupdates/<kind>/ready only when every file is written, so ready/ always holds a whole package.
#pragma once

#include <QFile>
#include <QMetaType>
#include <QMutex>
#include <QNetworkReply>
#include <QObject>
#include <QString>

#include "update_package.h"

#include <atomic>

class QNetworkAccessManager;
class QThread;
class QTimer;

// Set by the update dialog, read at the end of main. restartToUpdate: a client package waits
// in tupdates/client/ready, and the installer is to run once the program has let go of its
// files, whatever ends the program (the tray, the session). restartAfterUpdate: the user chose
// "Restart Now", so the installer starts vexa again; after any other quit it installs and ends.
// updaterWriteProtected: the application folder refused the new installer, so no installer of
// ours can replace the program's files; nothing is started (applicationFolderWritable tells
// beforehand). pendingClientVersion: the version of the waiting client package, which the
// installer records in the settings once every file is in place.
extern bool restartToUpdate;
extern bool restartAfterUpdate;
extern bool updaterWriteProtected;
extern QString pendingClientVersion;

// The installer's file name beside the executable.
QString installerFileName();

// Starts applicationDir's installer detached in applicationDir, so it outlives us, with
// "-update", then "-version <version>" when version is not empty, then "-restart" when
// restartAfterUpdate is set. Starts nothing, and logs why, when updaterWriteProtected is set. A
// start that fails removes tupdates/client/ready, so the next check downloads the client again.
// Before the start the package is noted (InstallRecords::noteClientPackage), so that the next
// start records version even when the installer there knows no "-version". True when it started.
bool launchUpdater(const QString &applicationDir, const QString &version = QString());

// Why a package did not arrive, in the terms the dialog tells the user: the network or the
// server (a retry may help), a package that is not what it claims (a retry fetches it again), or a
// folder that cannot take it (a retry helps once the disk has room).
enum class UpdateFailure { Network, Server, Damaged, Disk };

class PsUpdateDownloader : public QObject {
    Q_OBJECT
public:
    // A partial package is kept only in whole steps of this size: the tail of an interrupted
    // write may be garbage, a whole step before it was written and flushed in order.
    static constexpr qint64 kResumeStep = 102400;
    static constexpr int kDefaultStallTimeoutMs = 60000;
    // What Qt's network side may hold of a reply before it stops reading from the server.
    static constexpr qint64 kReadBufferSize = 4 << 20;
    // The most a package file may hold: the header and the compressed form of the largest
    // content the unpacker accepts. LZMA stores data it cannot compress as literals, at a cost
    // far below 1 %; a quarter more leaves ample room for that and still keeps the whole file
    // within what one QByteArray (the unpacker's input) can hold.
    static constexpr qint64 kMaxPackageSize =
        qint64(UpdatePackage::kHeaderSize) + qint64(UpdatePackage::kMaxContentSize) * 5 / 4;

    // Prepares the package file on the calling thread and runs everything else on thread, from
    // its started() signal on. applicationDir: the folder holding tupdates/, the running
    // program's folder when empty. stallTimeoutMs: how long a request may receive nothing
    // before it counts as a network failure.
    PsUpdateDownloader(QThread *thread, const QString &updateUrl, const QString &kind,
                       const QString &applicationDir = QString(), int stallTimeoutMs = kDefaultStallTimeoutMs);
    ~PsUpdateDownloader() override;

    // The package file's name in tupdates/<kind>/, made from the whole address: the same
    // address resumes the same file, and no address (one ending in "/ready", say) can name
    // anything but a package file.
    static QString packageFileName(const QString &updateUrl);

    QString outputFilePath() const { return m_outputFile.fileName(); }
    // Before the thread starts: a file that would grow past bytes ends as a Server failure.
    void setSizeLimit(qint64 bytes) { m_sizeLimit = bytes; }
    QString kind() const { return m_kind; }

    // Callable from any thread: the request is aborted and an unpacking stops at its next file
    // or block; nothing more is emitted. The partial package file stays for a later resume.
    void cancel();

    // Ends a downloader's thread without waiting for it: the thread quits once the downloader
    // has stopped, then deletes the downloader and itself. finishAll() waits for such threads.
    static void retire(QThread *thread, PsUpdateDownloader *downloader);
    // Waits (at most timeoutMs) for every retired thread that is still running; the application
    // calls it on its way out, once its windows are gone, so no thread outlives the Qt objects
    // it uses. True when none is left running.
    static bool finishAll(int timeoutMs);
    // Bytes of the package in the file so far.
    qint64 already() const;
    // The SHA-1 the package carries, once it was unpacked (unpressFinished); empty before.
    QByteArray packageDigest() const;

signals:
    // Progress of the current reply as the network reports it: with a resumed download both
    // numbers cover the remainder only.
    void finishPart(qint64 got, qint64 total);
    void downLoadFinished();
    // A network failure (or a stall); the partial file stays for the next attempt.
    void downLoadFailed();
    void unpressFinished(QString version);
    // Anything but a network failure that ended this package; detail is for the log.
    void packageFailed(UpdateFailure why, QString detail);

public slots:
    void start();
    void partMetaGot();
    void partArrived();
    void partFinished(qint64 got, qint64 total);
    void partFailed(QNetworkReply::NetworkError e);
    void sendRequest();

private:
    void prepareOutputFile();
    // The current reply's status, and its first bytes, allow its body into the file; a reply
    // that ends the package (or a 416, which partFailed takes) gives false.
    bool replyStatusAccepted();
    bool acceptReplyStart(int status);
    bool declaredSizeFits();
    void startFileAgain();
    bool appendAvailable();
    bool digestHolds();
    void replyFinished(QNetworkReply *finished);
    void stalled();
    QNetworkReply *takeReply();
    void complete();
    void unpack();
    void fatalFailure(UpdateFailure why, const QString &detail);

    QString m_updateUrl;
    QNetworkAccessManager *m_manager = nullptr;
    QNetworkReply *m_reply = nullptr;
    qint64 m_already = 0;
    QFile m_outputFile;
    QString m_kind;
    mutable QMutex m_mutex; // guards m_already and m_digest
    QByteArray m_digest;
    QString m_applicationDir;
    QTimer *m_stallTimer;
    // Whether the current reply's first bytes were found to continue the file.
    bool m_replyStartChecked = false;
    // Bytes of the current reply's body written to the file.
    qint64 m_replyReceived = 0;
    // The size the server says the whole file has (-1: it did not say).
    qint64 m_declaredSize = -1;
    qint64 m_sizeLimit = kMaxPackageSize;
    std::atomic<bool> m_cancelled{false};
};

Q_DECLARE_METATYPE(UpdateFailure)
