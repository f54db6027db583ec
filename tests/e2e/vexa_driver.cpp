#include "vexa_driver.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QProcessEnvironment>
#include <QTcpServer>
#include <QTest>
#include <QWebSocket>

namespace {

// A port nobody listens on right now. Another process may still take it before the program
// does; start() notices that and tries again.
int freeLocalPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    const int port = probe.serverPort();
    probe.close();
    return port;
}

QByteArray readWhole(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

VexaDriver::VexaDriver(const QString &builtAppDir, Options options)
    : m_builtAppDir(builtAppDir), m_options(std::move(options)), m_root(QDir::tempPath() + QStringLiteral("/vexa-e2e-XXXXXX"))
{
}

VexaDriver::~VexaDriver()
{
    stop();
}

QString VexaDriver::jsString(const QString &text)
{
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.mid(1, array.size() - 2));
}

QUrl VexaDriver::appUrl(const QString &relative) const
{
    return QUrl::fromLocalFile(m_appDir + QLatin1Char('/') + relative);
}

bool VexaDriver::isRunning() const
{
    return m_process.state() == QProcess::Running;
}

bool VexaDriver::writeAppFile(const QString &relative, const QByteArray &content)
{
    const QString path = m_appDir + QLatin1Char('/') + relative;
    if (m_appDir.isEmpty() || !QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

QByteArray VexaDriver::webLog() const
{
    return readWhole(m_appDir + QStringLiteral("/web.log"));
}

QByteArray VexaDriver::programOutput() const
{
    return readWhole(m_root.path() + QStringLiteral("/program-output.txt"));
}

bool VexaDriver::copyAppFolder()
{
    const QString target = m_root.path() + QStringLiteral("/app");
    const QDir source(m_builtAppDir);
    if (!QFileInfo(source.filePath(QStringLiteral("vexa"))).isExecutable()) {
        m_error = QStringLiteral("no built program in %1").arg(m_builtAppDir);
        return false;
    }
    QDirIterator it(m_builtAppDir, QDir::Files | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString from = it.next();
        const QString relative = source.relativeFilePath(from);
        // Logs of someone else's run in the build folder would mix with ours.
        if (!relative.contains(QLatin1Char('/')) && relative.endsWith(QLatin1String(".log")))
            continue;
        if (relative == QLatin1String("Resources/profiles/conf.xml") && !m_options.withConf)
            continue;
        const QString to = target + QLatin1Char('/') + relative;
        if (!QDir().mkpath(QFileInfo(to).absolutePath()) || !QFile::copy(from, to)) {
            m_error = QStringLiteral("cannot copy %1 to %2").arg(from, to);
            return false;
        }
    }
    m_appDir = QFileInfo(target).canonicalFilePath();
    if (m_options.withConf && !m_options.confXml.isEmpty() &&
        !writeAppFile(QStringLiteral("Resources/profiles/conf.xml"), m_options.confXml)) {
        m_error = QStringLiteral("cannot write the settings file");
        return false;
    }
    for (auto file = m_options.files.cbegin(); file != m_options.files.cend(); ++file) {
        if (!writeAppFile(file.key(), file.value())) {
            m_error = QStringLiteral("cannot write %1").arg(file.key());
            return false;
        }
    }
    return true;
}

bool VexaDriver::launch()
{
    m_port = freeLocalPort();
    if (m_port <= 0) {
        m_error = QStringLiteral("no free local port");
        return false;
    }
    const QString runtimeDir = m_root.path() + QStringLiteral("/xdg");
    const QString tempDir = m_root.path() + QStringLiteral("/tmp");
    const QString cacheDir = m_root.path() + QStringLiteral("/cache");
    QDir().mkpath(runtimeDir);
    QDir().mkpath(tempDir);
    QDir().mkpath(cacheDir);
    QFile::setPermissions(runtimeDir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QTWEBENGINE_REMOTE_DEBUGGING"), QStringLiteral("127.0.0.1:%1").arg(m_port));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir);
    // The program keeps its browser cache below the user's cache folder; a private one keeps runs
    // from sharing (or locking) it, and the tests from writing to the real one.
    env.insert(QStringLiteral("XDG_CACHE_HOME"), cacheDir);
    env.insert(QStringLiteral("TMPDIR"), tempDir);
    const QString platform = env.value(QStringLiteral("QT_QPA_PLATFORM"));
    if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal"))
        env.remove(QStringLiteral("QT_QPA_PLATFORM")); // the browser needs a real display

    m_process.setProcessEnvironment(env);
    m_process.setWorkingDirectory(m_appDir);
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setStandardOutputFile(m_root.path() + QStringLiteral("/program-output.txt"), QIODevice::Truncate);
    m_process.setProgram(m_appDir + QStringLiteral("/vexa"));
    m_process.setArguments(m_options.arguments);
    m_process.start();
    if (!m_process.waitForStarted(30000)) {
        m_error = QStringLiteral("the program did not start: %1").arg(m_process.errorString());
        return false;
    }
    return true;
}

bool VexaDriver::waitForStartPage(int timeoutMs, bool *portTaken)
{
    *portTaken = false;
    QNetworkAccessManager network;
    network.setProxy(QNetworkProxy::NoProxy);
    const QUrl listUrl(QStringLiteral("http://127.0.0.1:%1/json").arg(m_port));
    const QString expectedPage = m_appDir + QStringLiteral("/view/index.html");
    QString seen;

    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        if (m_process.state() != QProcess::Running) {
            m_error = QStringLiteral("the program ended (exit code %1) before its page came up").arg(m_process.exitCode());
            return false;
        }
        if (programOutput().contains("bind() failed")) {
            *portTaken = true;
            return false;
        }
        QNetworkRequest request(listUrl);
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
        QScopedPointer<QNetworkReply> reply(network.get(request));
        (void)QTest::qWaitFor([&] { return reply->isFinished(); }, 5000);
        if (reply->isFinished() && reply->error() == QNetworkReply::NoError) {
            const QJsonArray targets = QJsonDocument::fromJson(reply->readAll()).array();
            for (const QJsonValue &value : targets) {
                const QJsonObject target = value.toObject();
                if (target.value(QStringLiteral("type")).toString() != QLatin1String("page"))
                    continue;
                const QUrl url(target.value(QStringLiteral("url")).toString());
                seen = url.toString();
                // Anything else on this port is another program's page.
                if (url.isLocalFile() && QDir::cleanPath(url.toLocalFile()) == expectedPage)
                    return connectToPage(target.value(QStringLiteral("webSocketDebuggerUrl")).toString(),
                                         int(qMax<qint64>(5000, timeoutMs - clock.elapsed())));
            }
        } else if (reply->isFinished() && reply->error() != QNetworkReply::ConnectionRefusedError) {
            seen = reply->errorString();
        }
        QTest::qWait(200); // the poll's pace; the deadline is the loop's
    }
    m_error = QStringLiteral("the start page %1 did not show up on port %2 (last seen: %3)")
                  .arg(expectedPage)
                  .arg(m_port)
                  .arg(seen.isEmpty() ? QStringLiteral("nothing") : seen);
    return false;
}

bool VexaDriver::connectToPage(const QString &webSocketUrl, int timeoutMs)
{
    m_socket.reset(new QWebSocket);
    m_socket->setProxy(QNetworkProxy::NoProxy);
    connect(m_socket.data(), &QWebSocket::textMessageReceived, this, &VexaDriver::onMessage);
    m_socket->open(QUrl(webSocketUrl));
    if (!QTest::qWaitFor([&] { return m_socket->state() == QAbstractSocket::ConnectedState; }, 10000)) {
        m_error = QStringLiteral("cannot open %1: %2").arg(webSocketUrl, m_socket->errorString());
        return false;
    }
    QString last;
    if (!waitUntil(QStringLiteral("document.readyState === 'complete' && typeof cefQuery === 'function' && "
                                  "typeof cefQueryCancel === 'function' && typeof setMessageCallback === 'function'"),
                   timeoutMs, &last)) {
        m_error = QStringLiteral("the start page never became ready (%1)").arg(last);
        return false;
    }
    return true;
}

bool VexaDriver::start(int timeoutMs)
{
    m_error.clear();
    if (!m_root.isValid()) {
        m_error = QStringLiteral("no temporary folder: %1").arg(m_root.errorString());
        return false;
    }
    if (m_appDir.isEmpty() && !copyAppFolder())
        return false;
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (!launch())
            return false;
        bool portTaken = false;
        if (waitForStartPage(timeoutMs, &portTaken))
            return true;
        stop();
        if (!portTaken)
            break;
    }
    if (m_error.isEmpty())
        m_error = QStringLiteral("every debugging port tried was taken");
    m_error += QStringLiteral("\n--- program output ---\n") + QString::fromLocal8Bit(programOutput());
    return false;
}

int VexaDriver::terminate(int timeoutMs)
{
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
        m_socket.reset();
    }
    if (m_process.state() == QProcess::NotRunning)
        return m_process.exitCode();
    m_process.terminate();
    if (!m_process.waitForFinished(timeoutMs)) {
        stop();
        return -1;
    }
    return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
}

void VexaDriver::stop()
{
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
        m_socket.reset();
    }
    if (m_process.state() != QProcess::NotRunning) {
        // The browser's helper processes watch this one and end with it.
        m_process.kill();
        m_process.waitForFinished(15000);
    }
    m_replies.clear();
}

void VexaDriver::onMessage(const QString &text)
{
    const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
    if (message.contains(QStringLiteral("id")))
        m_replies.insert(message.value(QStringLiteral("id")).toInt(), message);
    // Protocol events are not used.
}

void VexaDriver::saveScreenshot(const QString &name, int settleMs)
{
    const QString dir = qEnvironmentVariable("VEXA_SCREENSHOT_DIR");
    if (dir.isEmpty())
        return;
    QDir().mkpath(dir);
    // For people to look at, not for a test to go by: a bounded settle for what is still drawing.
    QTest::qWait(settleMs);
    const QJsonObject shot = command(QStringLiteral("Page.captureScreenshot"), {{"format", "png"}});
    QFile file(QDir(dir).filePath(name + QStringLiteral(".png")));
    if (file.open(QIODevice::WriteOnly))
        file.write(QByteArray::fromBase64(shot.value(QStringLiteral("data")).toString().toLatin1()));
}

QJsonObject VexaDriver::command(const QString &method, const QJsonObject &params, QString *error, int timeoutMs)
{
    auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return QJsonObject();
    };
    if (!m_socket || m_socket->state() != QAbstractSocket::ConnectedState)
        return fail(QStringLiteral("not connected to the page"));

    const int id = m_nextId++;
    const QJsonObject request{{QStringLiteral("id"), id}, {QStringLiteral("method"), method}, {QStringLiteral("params"), params}};
    m_socket->sendTextMessage(QString::fromUtf8(QJsonDocument(request).toJson(QJsonDocument::Compact)));
    (void)QTest::qWaitFor([&] { return m_replies.contains(id) || !m_socket || m_socket->state() != QAbstractSocket::ConnectedState; },
                    timeoutMs);
    if (!m_replies.contains(id))
        return fail(m_socket && m_socket->state() == QAbstractSocket::ConnectedState
                        ? QStringLiteral("%1: no answer within %2 ms").arg(method).arg(timeoutMs)
                        : QStringLiteral("%1: the connection to the page was lost").arg(method));
    const QJsonObject reply = m_replies.take(id);
    if (reply.contains(QStringLiteral("error")))
        return fail(QStringLiteral("%1: %2").arg(method, reply.value(QStringLiteral("error")).toObject().value(QStringLiteral("message")).toString()));
    if (error)
        error->clear();
    return reply.value(QStringLiteral("result")).toObject();
}

QJsonValue VexaDriver::evaluate(const QString &expression, QString *error, int timeoutMs)
{
    QString why;
    const QJsonObject result = command(QStringLiteral("Runtime.evaluate"),
                                       {{QStringLiteral("expression"), expression},
                                        {QStringLiteral("awaitPromise"), true},
                                        {QStringLiteral("returnByValue"), true}},
                                       &why, timeoutMs);
    if (!why.isEmpty()) {
        if (error)
            *error = why;
        return QJsonValue(QJsonValue::Undefined);
    }
    if (result.contains(QStringLiteral("exceptionDetails"))) {
        const QJsonObject details = result.value(QStringLiteral("exceptionDetails")).toObject();
        const QString description = details.value(QStringLiteral("exception")).toObject().value(QStringLiteral("description")).toString();
        if (error)
            *error = description.isEmpty() ? details.value(QStringLiteral("text")).toString() : description;
        return QJsonValue(QJsonValue::Undefined);
    }
    if (error)
        error->clear();
    const QJsonObject value = result.value(QStringLiteral("result")).toObject();
    return value.contains(QStringLiteral("value")) ? value.value(QStringLiteral("value")) : QJsonValue(QJsonValue::Undefined);
}

bool VexaDriver::waitUntil(const QString &condition, int timeoutMs, QString *lastError)
{
    QElapsedTimer clock;
    clock.start();
    QString why;
    const QString expression = QStringLiteral("(async () => !!(await (%1)))()").arg(condition);
    while (true) {
        const int left = int(timeoutMs - clock.elapsed());
        if (evaluate(expression, &why, qBound(1000, left, 10000)) == QJsonValue(true))
            return true;
        if (clock.elapsed() >= timeoutMs || !isRunning())
            break;
        QTest::qWait(50); // the poll's pace: each evaluation is a protocol round trip
    }
    if (lastError)
        *lastError = why.isEmpty() ? QStringLiteral("condition still false: %1").arg(condition) : why;
    return false;
}

QString VexaDriver::markDocument()
{
    const QString marker = QStringLiteral("document-%1").arg(++m_markers);
    // An unmarked document would pass for its own successor.
    if (evaluate(QStringLiteral("window.__vexaE2eDocument = %1").arg(jsString(marker))) != QJsonValue(marker))
        return QString();
    return marker;
}

bool VexaDriver::waitForNewDocument(const QString &marker, int timeoutMs)
{
    if (marker.isEmpty())
        return false;
    return waitUntil(QStringLiteral("window.__vexaE2eDocument !== %1 && document.readyState === 'complete' && "
                                    "typeof cefQuery === 'function' && typeof setMessageCallback === 'function'")
                         .arg(jsString(marker)),
                     timeoutMs);
}

bool VexaDriver::navigate(const QUrl &url, int timeoutMs)
{
    const QString marker = markDocument();
    QString why;
    command(QStringLiteral("Page.navigate"), {{QStringLiteral("url"), url.toString(QUrl::FullyEncoded)}}, &why);
    return why.isEmpty() && waitForNewDocument(marker, timeoutMs) &&
           waitUntil(QStringLiteral("location.href === %1").arg(jsString(url.toString(QUrl::FullyEncoded))), 5000);
}

bool VexaDriver::reload(int timeoutMs)
{
    const QString marker = markDocument();
    QString why;
    command(QStringLiteral("Page.reload"), QJsonObject(), &why);
    return why.isEmpty() && waitForNewDocument(marker, timeoutMs);
}

QString VexaDriver::addNewDocumentScript(const QString &source, QString *error)
{
    QString why;
    command(QStringLiteral("Page.enable"), QJsonObject(), &why);
    const QString id = why.isEmpty() ? command(QStringLiteral("Page.addScriptToEvaluateOnNewDocument"),
                                               {{QStringLiteral("source"), source}}, &why)
                                           .value(QStringLiteral("identifier"))
                                           .toString()
                                     : QString();
    if (id.isEmpty() && why.isEmpty())
        why = QStringLiteral("the page gave the script no id");
    if (error)
        *error = why;
    return id;
}

void VexaDriver::removeNewDocumentScript(const QString &id)
{
    if (!id.isEmpty())
        command(QStringLiteral("Page.removeScriptToEvaluateOnNewDocument"), {{QStringLiteral("identifier"), id}});
}

QString VexaDriver::ask(const QString &request, int timeoutMs)
{
    const QString script = QStringLiteral(R"JS(new Promise((resolve) => {
  const timer = setTimeout(() => resolve('none'), %2);
  cefQuery({ request: %1,
             onSuccess: (text) => { clearTimeout(timer); resolve('success ' + text); },
             onFailure: (code, text) => { clearTimeout(timer); resolve('failure ' + code + ' ' + text); } });
}))JS")
                               .arg(jsString(request))
                               .arg(timeoutMs);
    QString error;
    const QJsonValue value = evaluate(script, &error, timeoutMs + 20000);
    return value.isString() ? value.toString() : QStringLiteral("error: ") + error;
}

QString VexaDriver::waitForWindow(qint64 pid, const QString &titlePattern, int timeoutMs)
{
    QStringList windows;
    (void)QTest::qWaitFor([&] { return !(windows = visibleWindows(pid, titlePattern)).isEmpty(); }, timeoutMs);
    return windows.value(0);
}

bool VexaDriver::pressKeys(const QString &window, const QString &keys, int timeoutMs)
{
    const int before = evaluate(QStringLiteral("if (!window.__e2eKeysUp) { window.__e2eKeysUp = 0;"
                                               " addEventListener('keyup', () => ++window.__e2eKeysUp, true); }"
                                               " window.__e2eKeysUp"))
                           .toInt();
    QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("--window"), window, keys});
    return waitUntil(QStringLiteral("(window.__e2eKeysUp || 0) > %1").arg(before), timeoutMs);
}

bool VexaDriver::clickInWindow(const QString &window, int x, int y)
{
    return QProcess::execute(QStringLiteral("xdotool"),
                             {QStringLiteral("mousemove"), QStringLiteral("--window"), window, QString::number(x),
                              QString::number(y), QStringLiteral("click"), QStringLiteral("1")})
           == 0;
}

QStringList VexaDriver::visibleWindows(qint64 pid, const QString &titlePattern)
{
    return runTool(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--all"),
                                               QStringLiteral("--onlyvisible"), QStringLiteral("--pid"),
                                               QString::number(pid), QStringLiteral("--name"), titlePattern})
        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QString VexaDriver::runTool(const QString &program, const QStringList &arguments, int *exitCode)
{
    QProcess tool;
    tool.start(program, arguments);
    tool.waitForFinished(30000);
    if (exitCode)
        *exitCode = tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
    return QString::fromUtf8(tool.readAllStandardOutput() + tool.readAllStandardError());
}
