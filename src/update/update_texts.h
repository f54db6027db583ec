// What the update window says in its own words, in the language the user chose: what an offer
// brings, how far each package has come, how the offer ended and what to do next, and what went
// wrong with a way out (retry, check the network or the disk, use the system's package manager).
// The dialog's fixed texts ("Found the new version,update now?", "Restart Now", the flash's own
// lines) stay as they are in every language; these stand beside them. Kept apart from the flow
// so that the wording, all seven languages of it, is read in one place.
#pragma once

#include "pspecific_wnd.h"

#include <QString>
#include <QStringList>

namespace UpdateTexts {

// The languages with words of their own, as the "language" setting names them, English first.
const QStringList &languages();
// The one of them a "language" setting reads, as the page reads it: its own code; "zh-HK" (and
// the other names of the two Chinese scripts) the script's; another region of a language
// ("de-AT") that language; anything else, or nothing, English.
QString languageOf(const QString &setting);

// How the user knows each package kind: "vexa program", "Pages", "Pad firmware".
QString kindName(const QString &language, const QString &kind);
// A package size in the language's number format, "2.4 MB".
QString size(const QString &language, qint64 bytes);
// One package as the window lists it, "Pages 1.1.0 · 2.4 MB"; an empty version and a negative
// size are left out.
QString packageLine(const QString &language, const QString &kind, const QString &version, qint64 bytes = -1);
// Above the notes the service sent with an offer.
QString notesHeading(const QString &language);

// Where one package is on its way, as the progress page lists it.
enum class Step { None, Asking, Downloading, Unpacking, Installing, WaitsForPages, Flashing, Installed, Ready, Written, Failed };
// done and whole: bytes of the package so far and in all (whole negative: not known).
QString stepLine(const QString &language, const QString &kind, Step step, qint64 done = 0, qint64 whole = -1);

// The progress page's line while packages download (again, after Retry): the dialog's own.
QString downloading();
QString installingPages(const QString &language);
QString preparingFlash(const QString &language);

// The end of an offer: what was put in place, and what to do next.
QString installedHeading(const QString &language);
QString readyHeading(const QString &language);
// A heading and its items on one line, "Installed: Pages 1.1.0, Pad firmware 2.4.1".
QString headedList(const QString &language, const QString &heading, const QStringList &items);
QString afterPages(const QString &language);
QString afterFirmware(const QString &language);
QString afterClient(const QString &language);

enum class Button { Close, Retry, Continue, Reload, FlashAgain };
QString button(const QString &language, Button which);

// A pad waits in its loader with the last image unpacked.
QString reflashQuestion(const QString &language);

// A line the firmware flash showed: ours in the language, the flash's fixed lines as they are.
QString flashLine(const QString &language, const QString &shown);

// Why a check the user asked for ends without an offer.
QString noService(const QString &language);
QString serviceUnreachable(const QString &language);
QString answerNotUnderstood(const QString &language);
QString nothingToInstall(const QString &language);
// The page package offered is the one installed last, and view/ still holds it.
QString pagesInstalled(const QString &language);

// A downloader gave up: the network, the server, a damaged package or the disk.
QString downloadFailed(const QString &language, const QString &kind, UpdateFailure why, const QString &applicationDir);
// The offer gave no http(s) address for kind.
QString noWebAddress(const QString &language, const QString &kind);
// The offer named kinds but no package address at all.
QString offerWithoutPackage(const QString &language);

// The client package arrived but cannot be installed over this installation.
QString clientManagedBySystem(const QString &language);
QString clientNotInstallable(const QString &language, const QString &why);
QString installerWriteProtected(const QString &language, const QString &installerPath);
QString clientNotPrepared(const QString &language, const QString &applicationDir);
// Said beside other failures when the client package waits for the installer all the same.
QString clientReady(const QString &language);

// The page package could not be put in place; failedFile empty when it could not be read.
QString pageNotInstalled(const QString &language, const QString &failedFile);
// Asked while a page file stays unwritable: Retry or Cancel. The dialog's own, in every language.
QString pageFileStuck(const QString &file);

QString firmwareHeldBack(const QString &language);
QString noPadLibrary(const QString &language);
// A flash's own outcome line followed by what to do about it.
QString loaderMissing(const QString &language, const QString &flashOutcome);
QString firmwareNotAccepted(const QString &language, const QString &flashOutcome);

} // namespace UpdateTexts
