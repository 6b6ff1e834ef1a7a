#pragma once

#include <QTest>

// A view test that cannot make its GL context would pass for tested if it skipped. It fails,
// unless TACTILON_ALLOW_NO_GL=1 says the machine has no OpenGL at all.
#define SKIP_OR_FAIL_WITHOUT_GL(reason)                                                             \
    do {                                                                                            \
        if (qEnvironmentVariableIntValue("TACTILON_ALLOW_NO_GL") == 1)                              \
            QSKIP(reason);                                                                          \
        QFAIL(reason);                                                                              \
    } while (false)
