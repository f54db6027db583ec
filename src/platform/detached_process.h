// Programs the application hands over to (the installer at exit, vexa again after an update)
// outlive it. They get the standard descriptors and nothing else: a descriptor of ours left open
// in them (a browser sub-process's channel, a lock, a socket of the termination signals) would
// keep what it belongs to alive for as long as they run, and pass on to what they start.
#pragma once

#include <QString>
#include <QStringList>

namespace platform {

struct DetachedProgram {
    QString program;          // an absolute path; no search along PATH
    QStringList arguments;    // after the program's own name
    QString workingDirectory; // empty: ours
    bool discardOutput = false; // standard output and error to the null device instead of ours
};

// Starts the program in a session of its own, as a child of the init process, with only the
// standard descriptors open, no signal blocked and every signal's action the default. True once
// it runs (*processId, when given, its id); false with *error (the system's reason) when it
// could not be started.
bool startDetached(const DetachedProgram &what, qint64 *processId = nullptr, QString *error = nullptr);

} // namespace platform
