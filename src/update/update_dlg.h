// The update dialog: offers what the update check found (which packages, their versions and
// sizes, the service's notes), downloads it with one PsUpdateDownloader per package kind, shows
// how far each package has come, installs page packages into view/ at once, prepares a client
// package for the installer that runs when the program ends, and ends by saying what was put in
// place and what to do next (Reload, Restart Now). Its own words follow the "language" setting
// (update_texts.h); the dialog's fixed texts stay as they are.
#pragma once

#include "update_texts.h"

#include <QDialog>
#include <QJsonObject>
#include <QPixmap>
#include <QPoint>
#include <QStringList>

#include <memory>

class AppSettings;
class FirmwareRom;
class PsUpdateDownloader;
class QFrame;
class QLabel;
class QNetworkAccessManager;
class QProgressBar;
class QPushButton;
class QStackedWidget;
class QTextBrowser;
class QThread;
class QTimer;

class updateDlg : public QDialog {
    Q_OBJECT
public:
    // settings: where a new client version is recorded (null: nowhere). applicationDir: the
    // folder holding view/ and tupdates/, the running program's folder when empty.
    explicit updateDlg(AppSettings *settings = nullptr, const QString &applicationDir = QString());
    // Stops the downloads: each downloader goes with its thread, which is joined here.
    ~updateDlg() override;

    // The check reply's "ret" object and the package kinds of its "deployment". Besides the
    // package addresses the offer page shows what "ret" tells of each package, where the service
    // sends it: "clientVersion", "deviceVersion", "firmwareVersion" (text), "clientSize",
    // "deviceSize", "firmwareSize" (bytes, a number or decimal text) and "notes" (plain text).
    // A package whose size the service does not give is asked for it (HEAD, Content-Length).
    void setOffer(const QJsonObject &offer, const QStringList &kinds);
    // "The current version is the latest version", or why a check the user asked for could not
    // tell (no service, no network, an answer that is not understood).
    void showInfoPage(const QString &text = QString());

    // Puts a new installer from tupdates/client/ready beside the program. False when there is
    // no ready client package or it had to be thrown away; true also when the folder refused
    // the installer (updaterWriteProtected is then set).
    bool prepareClientUpdate();
    // Copies tupdates/html/ready over view/ on a thread of its own while the dialog goes on
    // handling events; each file is written beside its target and renamed over it, so a page
    // file is either old or new, never half of each, and the page as a whole is the old one
    // or the new one: after a failure or a cancel every replaced file is put back and every
    // added one taken away. The user's own files (profiles, mode bindings) are only added where
    // the user has none. Asks Retry/Cancel when a file stays unwritable for 30 attempts. The
    // ready folder goes once everything is in; after a failure or a cancel it stays, so that
    // Retry can install it again. Each step is noted in a journal first, so that an
    // installation cut short by a kill or a crash is rolled back at the next start
    // (page_install.h). *failedFile: the file or folder that could not be written (empty when
    // the package could not be read).
    bool installPagePackage(QString *failedFile = nullptr);
    void clearPageUpdate();

    // The device library as the firmware step sees it; without one an offered firmware package
    // is downloaded but not flashed.
    void setFirmwareRom(std::shared_ptr<FirmwareRom> rom) { m_rom = std::move(rom); }
    // Page 0 asks whether to flash the unpacked firmware image again into a pad that waits in
    // its loader; "Flash again" runs the flash without the restart into the loader.
    void offerReflash();
    // The unpacked firmware image a flash writes.
    static QString firmwareImagePath(const QString &applicationDir);

    // A flash processes events while it waits; whoever owns the dialog must not delete it then.
    bool flashRunning() const { return m_flashing; }
    // The same holds while page files are put in place.
    bool installRunning() const { return m_installing; }

    // How long a download may receive nothing before it counts as failed.
    void setDownloadStallTimeout(int milliseconds) { m_stallTimeoutMs = milliseconds; }

    // Whether downloads, an installation or a flash are still under way.
    bool workRunning() const;

signals:
    void needupdate();
    // A flash ended, whatever its outcome: the pad left for its loader and may be back.
    void firmwareFlashEnded();
    // New page files are in view/: the page shown was loaded before them.
    void pagePackageInstalled();
    // The end page's Reload: the main window is to load its page again.
    void reloadPageRequested();

public slots:
    void on_btn_closeSetuper_clicked();
    void on_uninstallButton_clicekd();
    void on_pb_ok_clicked();
    void on_finishPart(qint64 part, qint64 total);
    void on_downLoadFaild();
    void updateNow();
    void on_clientPackageDownLoadFinished(QString version);
    void on_htmlPackageDownLoadFinished(QString version);
    void on_firmPackageDownLoadFinished(QString version);
    // The failure page's buttons: the failed steps again, or close.
    void on_pb_retry_clicked();

    // Ignored while a flash runs: the outcome must stay in sight, and the pad must not be left
    // in its loader by someone who thinks closing stops the flash.
    void reject() override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    struct Download {
        QThread *thread = nullptr;
        PsUpdateDownloader *downloader = nullptr;
        QString url;
        // Started and not yet unpacked or failed.
        bool running = false;
        // What the offer tells of the package (empty, -1: nothing).
        QString offeredVersion;
        qint64 offeredSize = -1;
        // Where the package is, for the progress page; its bytes so far and in all (-1: not
        // known yet), counting what an earlier attempt kept.
        UpdateTexts::Step step = UpdateTexts::Step::None;
        qint64 done = 0;
        qint64 whole = -1;
        // The version the package itself carries, once unpacked.
        QString version;
    };
    // What Retry does for a failure: nothing (it cannot help), fetch the package again, finish
    // the page installation from its ready folder, or flash the pad again.
    enum class RetryBy { Nothing, Download, Install, Flash };
    struct Failure {
        QString kind;
        QString text;
        RetryBy retry = RetryBy::Nothing;
    };

    void buildWidgets();
    void setLabelText(QLabel *label, const QString &text);
    // The language the dialog's own words are in, from the "language" setting.
    QString language() const;
    Download &downloadOf(const QString &kind);
    // The offered kinds that have a package address, in the order the window lists them.
    QStringList offeredKinds() const;
    void askPackageSizes();
    // The offer page's list of packages with the service's notes.
    void showOffer();
    // Below the question on page 0: the offer, or what is installed and what waits for the restart.
    void showDetails(const QString &html);
    // Below the question as it is laid out now.
    void placeDetails();
    void startDownload(const QString &kind);
    void onDownloadProgress(const QString &kind, PsUpdateDownloader *from, qint64 got, qint64 total);
    // The bytes each running download has in its file now.
    void countDownloadedBytes();
    void setStep(const QString &kind, UpdateTexts::Step step);
    // The progress page's line per package and the bar for all of them together.
    void showProgress();
    // The packages put in place so far, as the window lists them.
    QStringList installedPackages() const;
    // The end: what was put in place and what to do next.
    void showDonePage();
    void showClientReady();
    void onPackageFailed(const QString &kind, int why);
    void addFailure(const QString &kind, const QString &text, RetryBy retry);
    // The firmware waiting for a page package that failed is not flashed: said once, no Retry.
    void addFirmwareHeldBack();
    void installPage();
    void preparedClient(const QString &version);
    // Once nothing runs any more, shows where the offer ended: the failures with a way out, the
    // restart prompt, the flash's outcome, or "Update Complete" for a page alone.
    void settle();
    void showFailurePage();
    void bringBack();
    bool isDragArea(const QPoint &position) const;
    enum class FlashStart { RestartIntoLoader, AlreadyInLoader };
    void runFirmwareStep(FlashStart start = FlashStart::RestartIntoLoader);

    int borderWidth = 10;
    // Never set: the window moves by its background but is not resized by it.
    bool resizable = false;
    QPushButton *closeButton;
    QStackedWidget *pages;
    QFrame *pageFirst;
    QLabel *lb_text;
    QTextBrowser *tb_offer;
    QPushButton *cancelButton;
    QPushButton *uninstallButton;
    QFrame *pageThird;
    QLabel *lb_logo;
    QLabel *lb_install;
    QProgressBar *pb_install;
    QLabel *lb_progress;
    QFrame *pageInfo;
    QLabel *lb_info;
    QPushButton *pb_ok;
    QFrame *pageFailed;
    QLabel *lb_failed;
    QPushButton *pb_close;
    QPushButton *pb_retry;
    QFrame *pageDone;
    QLabel *lb_done;
    QPushButton *pb_done;
    QPushButton *pb_reload;
    QJsonObject offer;
    QStringList kinds;
    Download m_client;
    Download m_html;
    Download m_firmware;

    std::shared_ptr<FirmwareRom> m_rom;
    bool m_flashing = false;
    bool m_installing = false;
    bool m_pageInstalled = false;
    // The firmware package arrived before the page package of the same offer had installed.
    bool m_firmwareWaiting = false;
    // A client package waits in its ready folder for the installer.
    bool m_clientReady = false;
    // The page files the last page installation put in place, relative to view/.
    QStringList m_installedPageFiles;
    // The last flash's outcome as lb_install showed it; empty before any flash ended.
    QString m_flashOutcome;
    bool m_flashVerified = false;
    // Asks package addresses for their sizes; made when the first is asked.
    QNetworkAccessManager *m_sizeQueries = nullptr;
    // Runs while packages download: the network's own progress reports wait for more bytes, so
    // a server that sends a burst and goes quiet would leave the page behind what arrived.
    QTimer *m_progressTimer = nullptr;
    QList<Failure> m_failures;

    AppSettings *m_settings;
    QString m_applicationDir;
    int m_stallTimeoutMs;
    QPixmap m_background;
    // Moving by hand where the window system cannot move the window itself.
    bool m_dragging = false;
    QPoint m_dragOffset;
};
