// Log lines of the update code. Support reads them by a fixed source tag and line number
// ("pspecific_wnd(286)", "updatesystem(112)"), which must stay put however the sources are
// reorganised, so the tag is given explicitly instead of coming from __FILE__ and __LINE__.
#pragma once

#include <QString>

namespace UpdateLog {

// Writes text at information severity to the runtime log, tagged source(line), when the log
// admits information.
void info(const char *source, int line, const QString &text);

} // namespace UpdateLog
