#include "mouse_commands.h"

#include "mouse_settings.h"

const std::array<int, 12> doubleClickTable = {970, 900, 830, 760, 690, 620, 550, 480, 410, 340, 270, 200};

bool setDoubleClickTime(int position)
{
    if (position < 0 || position >= int(doubleClickTable.size()))
        return false;
    return MouseSettings::setDoubleClickTime(doubleClickTable[size_t(position)]);
}

void resetOwnDoubleClickTime()
{
    MouseSettings::setOwnDoubleClickTime(doubleClickTable[0]);
}

namespace {

void answer(const QueryCallbackPtr &callback, bool applied, const char *command)
{
    const QString name = QString::fromLatin1(command);
    if (applied)
        replySuccess(callback, name + QStringLiteral(" success"));
    else
        replyFailure(callback, 0, name + QStringLiteral(" failed"));
}

void modifyMouseSpeed(const CommandArgs &args, const QueryCallbackPtr &callback)
{
    if (!args.require({"speednum"}))
        return;
    answer(callback, MouseSettings::setPointerSpeed(args.toInt(QStringLiteral("speednum"))), "modifyMouseSpeed");
}

void modifyMouseScrollLines(const CommandArgs &args, const QueryCallbackPtr &callback)
{
    if (!args.require({"linenum"}))
        return;
    answer(callback, MouseSettings::setWheelScrollLines(args.toInt(QStringLiteral("linenum"))),
           "modifyMouseScrollLines");
}

void modifyMouseDoubleClick(const CommandArgs &args, const QueryCallbackPtr &callback)
{
    if (!args.require({"position"}))
        return;
    answer(callback, setDoubleClickTime(args.toInt(QStringLiteral("position"))), "modifyMouseDoubleClick");
}

} // namespace

void registerMouseCommands(CommandRegistry &registry)
{
    registry.add(QStringLiteral("modifyMouseSpeed"), modifyMouseSpeed);
    registry.add(QStringLiteral("modifyMouseScrollLines"), modifyMouseScrollLines);
    registry.add(QStringLiteral("modifyMouseDoubleClick"), modifyMouseDoubleClick);
}
