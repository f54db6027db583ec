#include "command_registry.h"

#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcCommands, "vexa.commands")

void replySuccess(const QueryCallbackPtr &callback, const QString &text)
{
    if (callback)
        callback->Success(text);
}

void replyFailure(const QueryCallbackPtr &callback, int code, const QString &text)
{
    if (callback)
        callback->Failure(code, text);
}

const QStringList &CommandRegistry::commandNames()
{
    // The page's names are fixed, including their odd casing.
    static const QStringList names = {
        QStringLiteral("getDevicesList"),         QStringLiteral("readDevicesProp"),
        QStringLiteral("writeDevicesProp"),       QStringLiteral("readByAddr"),
        QStringLiteral("writeByAddr"),            QStringLiteral("notifyDevice"),
        QStringLiteral("isPropEmpty"),            QStringLiteral("cleanMacroByAddr"),
        QStringLiteral("writeMacroByAddr"),       QStringLiteral("loadurl"),
        QStringLiteral("queryProfile"),           QStringLiteral("nodeCounterProfile"),
        QStringLiteral("modifyProfile"),          QStringLiteral("modifyProfileEx"),
        QStringLiteral("modifyRemoveProfile"),    QStringLiteral("modifyAddProfile"),
        QStringLiteral("modifyReplaceProfile"),   QStringLiteral("modifyReplaceProfileEx"),
        QStringLiteral("resetProfile"),           QStringLiteral("queryHexByte"),
        QStringLiteral("goback"),                 QStringLiteral("goforward"),
        QStringLiteral("getConf"),                QStringLiteral("setConf"),
        QStringLiteral("checkUpdate"),            QStringLiteral("savexml"),
        QStringLiteral("saveXmlAs"),              QStringLiteral("modifyMouseSpeed"),
        QStringLiteral("modifyMouseScrollLines"), QStringLiteral("modifyMouseDoubleClick"),
        QStringLiteral("closeApp"),               QStringLiteral("startRecord"),
        QStringLiteral("stopRecord"),             QStringLiteral("saveFileDialog"),
        QStringLiteral("openFileDialog"),         QStringLiteral("openUrl"),
        QStringLiteral("openFileDialogExe"),      QStringLiteral("confChanged"),
        QStringLiteral("openView"),               QStringLiteral("closeView"),
        QStringLiteral("sendMsgToMainBrowser"),
    };
    return names;
}

bool CommandRegistry::add(const QString &funcname, CommandHandler handler, const void *owner)
{
    if (!commandNames().contains(funcname)) {
        qCWarning(lcCommands) << "no page command is named" << funcname << "; not registered";
        return false;
    }
    if (m_commands.contains(funcname) || !handler) {
        qCWarning(lcCommands) << funcname << "is registered already; the first registration stays";
        return false;
    }
    m_commands.insert(funcname, Entry{std::move(handler), owner});
    return true;
}

void CommandRegistry::removeOwner(const void *owner)
{
    for (auto it = m_commands.begin(); it != m_commands.end();) {
        if (it->owner == owner)
            it = m_commands.erase(it);
        else
            ++it;
    }
}

const CommandHandler *CommandRegistry::find(const QString &funcname) const
{
    // Names are unique, so a lookup finds what a walk through the table in order would.
    const auto it = m_commands.constFind(funcname);
    if (it == m_commands.constEnd()) {
        qCDebug(lcCommands) << "unknown command" << funcname << "; no reply";
        return nullptr;
    }
    return &it->handler;
}

bool CommandRegistry::dispatch(const QString &funcname, const CommandArgs &args, const QueryCallbackPtr &callback) const
{
    const CommandHandler *handler = find(funcname);
    if (!handler)
        return false;
    // A copy: the command may unregister commands (its own owner's included) while it runs.
    const CommandHandler run = *handler;
    run(args, callback);
    return true;
}

QStringList CommandRegistry::registeredNames() const
{
    QStringList names;
    for (const QString &name : commandNames())
        if (m_commands.contains(name))
            names << name;
    return names;
}
