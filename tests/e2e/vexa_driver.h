// Runs a private copy of the built program and drives its page over the Chrome DevTools Protocol.
//
// Every driver gets its own application folder (a copy of the build's app folder, so the program
// reads its own settings file and writes web.log into it), its own
// temporary and runtime folders and its own remote-debugging port. The page is reached only
// through what any page may use (cefQuery, setMessageCallback, location); nothing here depends on
// how the shipped page looks.
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QHash>
#include <QMap>
#include <QObject>
#include <QProcess>
#include <QScopedPointer>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

class QWebSocket;

// How the private application folder differs from the built one.
struct VexaDriverOptions {
    // Copy Resources/profiles/conf.xml into the private folder.
    bool withConf = true;
    // Replaces the built settings file when not empty (withConf must be set).
    QByteArray confXml;
    // Further files to put into the private folder before the start: relative path → content.
    QMap<QString, QByteArray> files;
    // Command-line arguments of the program ("-autostart").
    QStringList arguments;
};

class VexaDriver : public QObject {
    Q_OBJECT
public:
    using Options = VexaDriverOptions;

    explicit VexaDriver(const QString &builtAppDir, Options options = Options());
    ~VexaDriver() override;

    // Copies the folder, starts the program and waits until its start page is up and scriptable.
    // On failure the reason (with the program's output) is in error().
    bool start(int timeoutMs = 90000);
    QString error() const { return m_error; }

    QString appDir() const { return m_appDir; }
    QUrl appUrl(const QString &relative) const;
    QUrl startUrl() const { return appUrl(QStringLiteral("view/index.html")); }
    int debuggingPort() const { return m_port; }
    bool isRunning() const;
    qint64 processId() const { return m_process.processId(); }
    // The environment the program runs in (its private runtime and temporary folders), for a
    // second start of the same installation.
    QProcessEnvironment environment() const { return m_process.processEnvironment(); }
    // Asks the program to end as a session or a terminal would (SIGTERM) and waits; the exit
    // code, or -1 when it did not end in time (it is then killed).
    int terminate(int timeoutMs = 30000);

    // Writes a file below the private application folder (for test pages).
    bool writeAppFile(const QString &relative, const QByteArray &content);
    // The runtime log the program writes into its application folder.
    QByteArray webLog() const;
    // What the program printed so far (stdout and stderr).
    QByteArray programOutput() const;

    // Runs an expression in the page's main world; a promise is awaited. The value comes back by
    // value (JSON). On an exception, a protocol error or a timeout the result is undefined and
    // *error (when given) says why.
    QJsonValue evaluate(const QString &expression, QString *error = nullptr, int timeoutMs = 30000);
    // With VEXA_SCREENSHOT_DIR set, the page as it is now in <dir>/<name>.png, for people to look
    // at, after settleMs for what the screen is still drawing; without it, nothing.
    void saveScreenshot(const QString &name, int settleMs = 0);
    // One raw protocol command on the page's connection; the "result" object, or empty with *error.
    QJsonObject command(const QString &method, const QJsonObject &params = QJsonObject(), QString *error = nullptr,
                        int timeoutMs = 30000);

    // Polls the expression until it yields true; a promise counts by what it resolves to (not by
    // being an object, which is always true). Errors while polling (a document that is being
    // replaced) count as "not yet".
    bool waitUntil(const QString &condition, int timeoutMs = 30000, QString *lastError = nullptr);

    // Shows url in the main browser and waits for the new document to be complete and to have the
    // bridge functions. Works for the current address too (a fresh document is still required).
    bool navigate(const QUrl &url, int timeoutMs = 30000);
    // Reloads the page and waits like navigate().
    bool reload(int timeoutMs = 30000);
    // Waits for a document other than the one marked by markDocument() to be ready.
    bool waitForNewDocument(const QString &marker, int timeoutMs = 30000);
    // Tags the current document so that its successor can be told apart from it; empty when the
    // document could not be tagged.
    QString markDocument();

    // Runs source in every new document of the page before anything else runs there (the
    // program's page script included), until removed; the script's id, or empty with *error.
    QString addNewDocumentScript(const QString &source, QString *error = nullptr);
    void removeNewDocumentScript(const QString &id);

    // A JavaScript string literal holding text.
    static QString jsString(const QString &text);

    // Sends one command text from the page with cefQuery: "success <text>", "failure <code>
    // <text>", "none" when nothing answers within timeoutMs, or "error: ..." when the page could
    // not be asked.
    QString ask(const QString &request, int timeoutMs = 10000);
    // X window ids of the process's visible windows whose title matches titlePattern (xdotool).
    static QStringList visibleWindows(qint64 pid, const QString &titlePattern);
    // The first of them once there is one; empty when none shows within timeoutMs.
    static QString waitForWindow(qint64 pid, const QString &titlePattern, int timeoutMs = 10000);
    // A left click at (x, y) inside an X window, as the pointer does it (xdotool). True when sent.
    static bool clickInWindow(const QString &window, int x, int y);
    // Presses keys (xdotool names, "ctrl+Return") on the X window that shows the page and waits
    // until the page has had them: it counts the keys let go in its document, and the last one
    // let go comes after every handler of the presses has run. False when the page did not see
    // them within timeoutMs (another window has the keyboard, or the keys were taken before it).
    bool pressKeys(const QString &window, const QString &keys, int timeoutMs = 5000);
    // Runs a tool to its end; its standard output and error. *exitCode is -1 after a crash.
    static QString runTool(const QString &program, const QStringList &arguments, int *exitCode = nullptr);

private:
    bool copyAppFolder();
    bool launch();
    bool waitForStartPage(int timeoutMs, bool *portTaken);
    bool connectToPage(const QString &webSocketUrl, int timeoutMs);
    void stop();
    void onMessage(const QString &text);

    QString m_builtAppDir;
    Options m_options;
    QTemporaryDir m_root;
    QString m_appDir;
    QString m_error;
    int m_port = 0;
    QProcess m_process;
    QScopedPointer<QWebSocket> m_socket;
    int m_nextId = 1;
    QHash<int, QJsonObject> m_replies;
    int m_markers = 0;
};
