// The single-instance server against clients that misbehave: one that sends bytes without ever
// a ";" (how long until the server is done with it, and how much the process grows meanwhile),
// and one that sends whole commands as fast as it can (replies per second), against a bare local
// server that answers every ";" at once.
//
// Usage: vexa_bench_instance [MEGABYTES] [COMMANDS]   (default 16 MB, 20000 commands)
#include "bench_report.h"
#include "instance_channel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QTextStream>

namespace {

// Resident set size in kB, from the kernel's own account.
long residentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

// Sends commands one at a time, each after the previous answer; how many were answered.
int exchange(QCoreApplication &app, const QString &name, int commands)
{
    QLocalSocket client;
    client.connectToServer(name);
    if (!client.waitForConnected(2000))
        return 0;
    int answered = 0;
    QByteArray received;
    for (int i = 0; i < commands && client.state() == QLocalSocket::ConnectedState; ++i) {
        client.write("CMD:show;");
        client.flush();
        while (!received.contains(';') && client.state() == QLocalSocket::ConnectedState) {
            app.processEvents();
            if (client.bytesAvailable() > 0 || client.waitForReadyRead(0))
                received += client.readAll();
        }
        const int end = received.indexOf(';');
        if (end >= 0) {
            received.remove(0, end + 1);
            ++answered;
        }
    }
    return answered;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int megabytes = argc > 1 ? QByteArray(argv[1]).toInt() : 16;
    const int commands = argc > 2 ? QByteArray(argv[2]).toInt() : 20000;
    QTextStream out(stdout);

    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    const QString name = dir.filePath(QStringLiteral("instance"));
    instance_channel::InstanceServer server([] {});
    if (!server.listen(name))
        return 1;

    // Bytes without ";": written in 64 KiB pieces until all are out or the server has cut the
    // client off; the server keeps reading meanwhile (same thread, so the loop turns it).
    {
        QLocalSocket flood;
        flood.connectToServer(name);
        if (!flood.waitForConnected(2000))
            return 1;
        const QByteArray chunk(64 * 1024, 'x');
        const long before = residentKb();
        long peak = before;
        QElapsedTimer clock;
        clock.start();
        qint64 written = 0;
        while (written < qint64(megabytes) * 1024 * 1024 && flood.state() == QLocalSocket::ConnectedState) {
            if (flood.bytesToWrite() < 4 * chunk.size())
                written += flood.write(chunk);
            app.processEvents();
            peak = std::max(peak, residentKb());
        }
        while (flood.bytesToWrite() > 0 && flood.state() == QLocalSocket::ConnectedState) {
            flood.waitForBytesWritten(1);
            app.processEvents();
            peak = std::max(peak, residentKb());
        }
        app.processEvents();
        out << "bytes without ';': " << written / 1024 << " KiB sent in " << clock.elapsed() << " ms, client "
            << (flood.state() == QLocalSocket::ConnectedState ? "still connected" : "cut off") << ", process grew "
            << (peak - before) << " kB at most\n";
        out.flush();
        if (written == 0) {
            out << "not a measurement: no byte went out\n";
            return 1;
        }
    }

    // Whole commands, each answered before the next is sent; then the same against a bare server.
    QElapsedTimer clock;
    clock.start();
    const int answered = exchange(app, name, commands);
    const double seconds = clock.nsecsElapsed() / 1e9;
    out << "commands: " << answered << " answered in " << qRound(seconds * 1000) << " ms ("
        << qRound(answered / seconds) << " per second)\n";

    QLocalServer bare;
    const QString bareName = dir.filePath(QStringLiteral("bare"));
    if (!bare.listen(bareName))
        return 1;
    QObject::connect(&bare, &QLocalServer::newConnection, [&bare] {
        QLocalSocket *socket = bare.nextPendingConnection();
        QObject::connect(socket, &QLocalSocket::readyRead, socket, [socket] {
            const int commandsIn = socket->readAll().count(';');
            socket->write(QByteArray(commandsIn, ';'));
        });
    });
    clock.restart();
    const int bareAnswered = exchange(app, bareName, commands);
    const double bareSeconds = clock.nsecsElapsed() / 1e9;
    out << "bare local server: " << bareAnswered << " answered in " << qRound(bareSeconds * 1000) << " ms ("
        << qRound(bareAnswered / bareSeconds) << " per second)\n";
    out.flush();
    if (answered != commands || bareAnswered != commands) {
        out << "not a measurement: commands went unanswered\n";
        return 1;
    }
    reportRatio("instance: one command", seconds / answered * 1e6, "bare local server", bareSeconds / bareAnswered * 1e6,
                "us");
    return 0;
}
