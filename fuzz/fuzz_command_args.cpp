// A page command's text as the dispatcher gets it: parsed into arguments, every argument read by
// every rule, and the command dispatched through a registry whose commands all read and answer.
#include "command_test_support.h"
#include "fuzz_support.h"

#include <QtGlobal>

namespace {

// Reads every argument the way commands do; answers once, by a rule of its own input.
void readEverything(const CommandArgs &args, const QueryCallbackPtr &callback)
{
    QString seen;
    for (auto it = args.map().constBegin(); it != args.map().constEnd(); ++it) {
        const int n = args.toInt(it.key());
        const long hex = args.toHex(it.key());
        // Commands ask for at most a few kilobytes; the size comes from the page too.
        const QByteArray list = args.toByteList(it.key(), qBound(0, n, 4096));
        fuzz::require(list.size() == qBound(0, n, 4096), "a byte list has exactly the size asked");
        seen += args.toText(it.key()) + CommandArgs::byteListReply(list) + QString::number(hex);
    }
    if (args.toInt(QStringLiteral("fail")) != 0)
        replyFailure(callback, 0, seen.left(16));
    else
        replySuccess(callback, seen.left(16));
}

CommandRegistry &registry()
{
    static CommandRegistry commands;
    static bool filled = false;
    if (!filled) {
        filled = true;
        for (const QString &name : CommandRegistry::commandNames())
            commands.add(name, readEverything);
    }
    return commands;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(fuzz::bytes(data, size));

    // The readers on the raw text too, as commands apply them to any string argument.
    CommandArgs::hexOf(text);
    CommandArgs::byteListReply(CommandArgs::byteListOf(text, 64));

    CommandArgs args;
    if (!CommandArgs::parse(text, &args))
        return 0;
    const QString funcname = args.toText(QStringLiteral("funcname"));
    CefRefPtr<RecordingCallback> callback(new RecordingCallback);
    const bool ran = registry().dispatch(funcname, args, callback);
    fuzz::require(ran == CommandRegistry::commandNames().contains(funcname), "dispatch finds exactly the table's names");
    fuzz::require(callback->replies.size() == (ran ? 1 : 0), "a command answers at most once, an unknown name never");
    return 0;
}
