#include "update_service.h"

#include <QtGlobal>

#ifndef VEXA_UPDATE_SERVICE_DEFAULT
#define VEXA_UPDATE_SERVICE_DEFAULT ""
#endif

namespace {

const char environmentName[] = "VEXA_UPDATE_SERVICE";

struct Configured {
    QString text;
    QString origin;
};

Configured configuredText()
{
    if (qEnvironmentVariableIsSet(environmentName))
        return {qEnvironmentVariable(environmentName).trimmed(), QStringLiteral("the environment variable")};
    return {QStringLiteral(VEXA_UPDATE_SERVICE_DEFAULT).trimmed(), QStringLiteral("the build setting")};
}

// Only scheme, host and port: "localhost:8080" would otherwise read as the scheme "localhost",
// and a path or query would end up in front of the fixed endpoint path.
bool isServiceAddress(const QString &text)
{
    const QUrl url(text, QUrl::StrictMode);
    return url.isValid() && (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https"))
           && !url.host().isEmpty() && url.userInfo().isEmpty() && (url.path().isEmpty() || url.path() == "/")
           && !url.hasQuery() && !url.hasFragment();
}

} // namespace

namespace UpdateService {

QString address()
{
    const Configured configured = configuredText();
    if (!isServiceAddress(configured.text))
        return QString();
    QUrl url(configured.text);
    url.setPath(QString());
    return url.toString(QUrl::FullyEncoded);
}

bool configured()
{
    return !address().isEmpty();
}

QUrl upgradeUrl()
{
    const QString base = address();
    if (base.isEmpty())
        return QUrl();
    return QUrl(base + QStringLiteral("/api/system/upgrade"));
}

QString notConfiguredReason()
{
    const Configured configured = configuredText();
    if (configured.text.isEmpty())
        return QStringLiteral("Update Info: no update check, no vendor service address is configured "
                              "(set VEXA_UPDATE_SERVICE to http://host[:port])");
    if (!isServiceAddress(configured.text))
        return QStringLiteral("Update Info: no update check, the vendor service address '%1' from %2 is not of "
                              "the form http(s)://host[:port]")
            .arg(configured.text, configured.origin);
    return QString();
}

} // namespace UpdateService
