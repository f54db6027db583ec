// The reply end of one page query: the counted callback a command answers through. It lives
// below the browser runtime so that command code can answer without linking the web engine.
#pragma once

#include "cef_base.h"

class CefQueryCallback : public CefBaseRefCounted {
public:
    // Either may be called once, from any thread; later calls and calls after the query was
    // cancelled (its page navigated, reloaded, closed or withdrew it) do nothing.
    virtual void Success(const CefString &response) = 0;
    virtual void Failure(int error_code, const CefString &error_message) = 0;
};

using QueryCallbackPtr = CefRefPtr<CefQueryCallback>;
