// What a second instance (or any local client) sends the running one, arriving in two reads at
// a point the input chooses; and what comes back to the second instance.
#include "fuzz_support.h"
#include "instance_channel.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray all = fuzz::bytes(data + 1, size - 1);
    const int split = all.isEmpty() ? 0 : int(data[0]) % (all.size() + 1);

    QByteArray buffer = all.left(split);
    QStringList commands = instance_channel::takeCommands(&buffer);
    buffer += all.mid(split);
    commands += instance_channel::takeCommands(&buffer);
    fuzz::require(!buffer.contains(';'), "every complete segment is taken");
    fuzz::require(all.endsWith(buffer), "what stays is the tail after the last ';'");
    for (const QString &command : commands)
        fuzz::require(!command.contains(QLatin1Char(';')), "a command name holds no ';'");

    bool complete = false;
    const QString reply = QString::fromUtf8(all);
    instance_channel::replyProcessId(reply, &complete);
    instance_channel::isMainWindowTitle(reply);
    return 0;
}
