// Where the running program lives, where its per-user instance channel lives and where the
// user keeps documents, in the forms the operating system uses.
#pragma once

#include <QString>

namespace platform {

// The absolute path of the running executable with links resolved; empty when the system does
// not tell. Works before any application object exists, which QCoreApplication's own
// applicationFilePath() does not.
QString executablePath();

// The name a QLocalServer of this user listens on for bareName. Where local server names are
// files in a shared folder, the name moves into the user's private runtime folder, so another
// user's socket file can neither block nor answer ours; empty when there is no such folder.
QString instanceChannelName(const QString &bareName);

#ifndef Q_OS_WIN
// The user's private runtime folder: $XDG_RUNTIME_DIR when it is a folder of this user closed to
// everybody else; otherwise "vexa-runtime-<uid>" in the temporary folder, created when missing.
// A folder of that name that is not such a folder (another user's, a link, a loose mode) is
// never used: the next of a few numbered names is, then one of a random name, made by the first
// start that needs it and taken again by every later one. Empty when none can be had.
QString runtimeFolder();
#endif

// The user's documents folder (XDG_DOCUMENTS_DIR, "My Documents"), created when missing; empty
// when there is none to be had. Downloads and the file dialogs start there.
QString documentsFolder();

} // namespace platform
