#include "update_log.h"

#include "runtime_log.h"

namespace UpdateLog {

void info(const char *source, int line, const QString &text)
{
    if (cefLogIsOn(LOGSEVERITY_INFO))
        cefLogWrite(LOGSEVERITY_INFO, source, line, text);
}

} // namespace UpdateLog
