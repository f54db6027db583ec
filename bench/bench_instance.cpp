// The single-instance server against clients that misbehave: one that sends bytes without ever
// a ";" (how long until the server is done with it, and how much the process grows meanwhile),
// and one that sends whole commands as fast as it can (replies per second).
//
// Usage: vexa_bench_instance [MEGABYTES] [COMMANDS]   (default 16 MB, 20000 commands)
#include "instance_channel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
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
    }

    // Whole commands, each answered before the next is sent.
    {
        QLocalSocket client;
        client.connectToServer(name);
        if (!client.waitForConnected(2000))
            return 1;
        QElapsedTimer clock;
        clock.start();
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
        const double seconds = clock.nsecsElapsed() / 1e9;
        out << "commands: " << answered << " answered in " << qRound(seconds * 1000) << " ms ("
            << qRound(answered / seconds) << " per second)\n";
    }
    return 0;
}
