// The update check: asks the vendor service whether newer client, page or firmware packages
// exist and, when it offers some, runs the update dialog. One check object per check; the
// application keeps the latest.
#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class CommandContext;
class FirmwareRom;
class HttpRequestWorker;
class QJsonObject;
class QNetworkAccessManager;
class updateDlg;

class UpdateCheck : public QObject {
    Q_OBJECT
public:
    // The onBrowserMsg text that tells the page new page files were installed: the page shown
    // is the one loaded before them until it is reloaded.
    static const QString kPageUpdatedMessage;

    // context: the settings a new client version is recorded in and the main window the
    // dialog is centred over. applicationDir: the folder holding view/ and tupdates/, the
    // running program's folder when empty.
    explicit UpdateCheck(CommandContext &context, QObject *parent = nullptr,
                         const QString &applicationDir = QString());
    ~UpdateCheck() override;

    // Sends the request, or, with no vendor service configured, only says so in the log.
    void checkNow(const QString &deviceId, const QString &fwVersion, const QString &clientVersion, bool manual);

    // A pad waits in its loader: when the image of the interrupted flash is still unpacked,
    // opens the dialog (from the event loop, soon) to offer flashing it again and returns true;
    // false, with nothing started, when there is no image. The check is busy from here on
    // until the dialog is closed.
    bool offerReflash();

    // While the dialog runs, this object is on the call stack below the dialog's event loop:
    // it must not be deleted then (a new check has to wait).
    bool dialogRunning() const { return m_dialogRunning; }
    // The same holds while the dialog flashes the pad or puts page files in place, even after
    // it was closed: both process events from inside the dialog's slot.
    bool busy() const;
    // Handed to every dialog this check opens.
    void setFirmwareRom(std::shared_ptr<FirmwareRom> rom) { m_rom = std::move(rom); }
    updateDlg *dialogWindow() const { return dialog; }

signals:
    // Declared for listeners of the offer; nothing emits it.
    void cantFindNewVersion();
    void FindNewVersion();
    void closeApp();
    // The dialog's flash ended: the pad list may differ from what the device events said.
    void firmwareFlashEnded();
    // An update is offered: its dialog is about to open (the user may not be looking at vexa).
    void updateOffered();

public slots:
    void handle_doCheckUpdate(HttpRequestWorker *worker);
    void on_needupdate();

    // A check the user asked for could not start (another one or a flash is under way): the
    // window that is busy comes forward, so the click is answered.
    void bringForward();

private:
    // Opens the dialog offering kinds of offer.
    void offerKinds(const QJsonObject &offer, const QStringList &kinds);
    // Fetches the head of the package at address and calls answer with the digest it carries,
    // or with nothing when it cannot be had.
    void askPackageDigest(const QString &address, const std::function<void(const QByteArray &)> &answer);
    void runDialog();
    updateDlg *newDialog();
    // Runs show from the event loop, soon; the check counts as busy until then.
    void runSoon(const std::function<void()> &show);
    // The dialog's information page: text, or "The current version is the latest version".
    void showInformation(const QString &text);
    // The language of our own words, from the "language" setting.
    QString language() const;

    HttpRequestWorker *worker = nullptr;
    updateDlg *dialog = nullptr;
    bool manual = false;

    CommandContext &m_context;
    QString m_applicationDir;
    bool m_dialogRunning = false;
    // A window is on its way to the screen (runSoon).
    bool m_offerPending = false;
    std::shared_ptr<FirmwareRom> m_rom;
    // Asks for package heads; made on first need.
    QNetworkAccessManager *m_network = nullptr;
};
