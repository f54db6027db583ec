// Where the vendor service lives. The address (scheme, host, optional port) is configuration:
// the environment variable VEXA_UPDATE_SERVICE when it is set (tests, staging, demos; set but
// empty turns updates off), else the VEXA_UPDATE_SERVICE setting the program was built with,
// which is empty unless a release build names one.
#pragma once

#include <QString>
#include <QUrl>

namespace UpdateService {

// "http://host[:port]" without a trailing "/"; empty when none is configured or the configured
// text is not such an address.
QString address();

// Whether there is a service to ask. Without one the caller sends nothing and writes
// notConfiguredReason() to the log once.
bool configured();

// The address followed by "/api/system/upgrade"; an empty QUrl when not configured.
QUrl upgradeUrl();

// One log line saying why no request goes out; empty when configured.
QString notConfiguredReason();

} // namespace UpdateService
