// A test that cannot run because a tool is missing (a program, an X server, a part of the build)
// skips on a developer's machine and says which tool. Where the tools are part of the set-up (CI,
// or VEXA_REQUIRE_TOOLS=1, which .ci/run sets) a missing tool is an install step that failed, and
// a skip would hide it: there the test fails instead.
#pragma once

#include <QString>
#include <QtTest>

namespace vexa_test {

inline bool toolsRequired()
{
    const QByteArray required = qgetenv("VEXA_REQUIRE_TOOLS");
    if (!required.isEmpty())
        return required != "0";
    return qgetenv("CI") == "true";
}

} // namespace vexa_test

#define VEXA_SKIP_WITHOUT_TOOL(reason)                                                                                 \
    do {                                                                                                               \
        if (vexa_test::toolsRequired())                                                                                \
            QFAIL(qPrintable(QString::fromUtf8(reason) +                                                               \
                             QStringLiteral(" (tools are part of the set-up here, so this fails instead of skipping)"))); \
        QSKIP(reason);                                                                                                 \
    } while (false)
