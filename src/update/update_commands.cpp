#include "update_commands.h"

void registerUpdateCommands(CommandRegistry &registry, std::function<void()> manualCheck)
{
    registry.add(QStringLiteral("checkUpdate"), [manualCheck](const CommandArgs &, const QueryCallbackPtr &callback) {
        // The answer only says the check was taken: its outcome may wait on the network and on
        // the user, and shows itself in the update dialog.
        replySuccess(callback, QStringLiteral("checkUpdate success"));
        manualCheck();
    });
}
