#include "profile_commands.h"

#include "profile_store.h"

namespace {

void reply(const QueryCallbackPtr &callback, const ProfileReply &result)
{
    switch (result.kind) {
    case ProfileReply::Success:
        replySuccess(callback, result.text);
        break;
    case ProfileReply::Failure:
        replyFailure(callback, 0, result.text);
        break;
    case ProfileReply::None:
        break;
    }
}

QString text(const CommandArgs &args, const char *key)
{
    return args.toText(QString::fromLatin1(key));
}

void queryProfile(ProfileStore &profiles, const CommandArgs &args, const QueryCallbackPtr &callback)
{
    if (!args.hasAll({"filePath", "xpath"}))
        return;
    reply(callback, profiles.queryProfile(text(args, "filePath"), text(args, "xpath")));
}

void nodeCounterProfile(ProfileStore &profiles, const CommandArgs &args, const QueryCallbackPtr &callback)
{
    if (!args.hasAll({"filePath", "xpath"}))
        return;
    reply(callback, profiles.nodeCounterProfile(text(args, "filePath"), text(args, "xpath")));
}

void modifyProfile(ProfileStore &profiles, const CommandArgs &args, const QueryCallbackPtr &callback)
{
    if (!args.hasAll({"filePath", "xpath", "attribute", "attributeValue"}))
        return;
    reply(callback, profiles.modifyProfile(text(args, "filePath"), text(args, "xpath"),
                                                    text(args, "attribute"), text(args, "attributeValue")));
}

void modifyProfileEx(ProfileStore &profiles, const CommandArgs &args, const QueryCallbackPtr &callback)
{
    if (!args.hasAll({"filePath", "xpath", "subTreeString"}))
        return;
    reply(callback, profiles.modifyProfileEx(text(args, "filePath"), text(args, "xpath"),
                                                      text(args, "subTreeString")));
}

void modifyRemoveProfile(ProfileStore &profiles, const CommandArgs &args, const QueryCallbackPtr &callback)
{
    if (!args.hasAll({"filePath", "xpath"}))
        return;
    reply(callback, profiles.modifyRemoveProfile(text(args, "filePath"), text(args, "xpath")));
}

void modifyAddProfile(ProfileStore &profiles, const CommandArgs &args, const QueryCallbackPtr &callback)
{
    if (!args.hasAll({"filePath", "xpath", "attribute", "attributeValue"}))
        return;
    reply(callback, profiles.modifyAddProfile(text(args, "filePath"), text(args, "xpath"),
                                                       text(args, "attribute"), text(args, "attributeValue"),
                                                       text(args, "addNodeName")));
}

void modifyReplaceProfile(ProfileStore &profiles, const CommandArgs &args, const QueryCallbackPtr &callback)
{
    if (!args.hasAll({"srcFilePath", "desFilePath", "srcXpath", "desXpath"}))
        return;
    reply(callback, profiles.modifyReplaceProfile(text(args, "srcFilePath"), text(args, "desFilePath"),
                                                           text(args, "srcXpath"), text(args, "desXpath")));
}

void modifyReplaceProfileEx(ProfileStore &profiles, const CommandArgs &args, const QueryCallbackPtr &callback)
{
    // "srcXpath" must be there although an import always starts at the package's top element.
    if (!args.hasAll({"srcFilePath", "desFilePath", "srcXpath", "desXpath"}))
        return;
    reply(callback, profiles.modifyReplaceProfileEx(text(args, "srcFilePath"), text(args, "desFilePath"),
                                                             text(args, "desXpath")));
}

void resetProfile(ProfileStore &profiles, const CommandArgs &args, const QueryCallbackPtr &callback)
{
    if (!args.hasAll({"srcFilePath", "desFilePath"}))
        return;
    reply(callback, profiles.resetProfile(text(args, "srcFilePath"), text(args, "desFilePath")));
}

void queryHexByte(ProfileStore &profiles, const CommandArgs &args, const QueryCallbackPtr &callback)
{
    if (!args.hasAll({"filePath", "xpath", "args"}))
        return;
    reply(callback, profiles.queryHexByte(text(args, "filePath"), text(args, "xpath"), text(args, "args")));
}

void savexml(ProfileStore &profiles, const CommandArgs &, const QueryCallbackPtr &callback)
{
    reply(callback, profiles.savexml());
}

void saveXmlAs(ProfileStore &profiles, const CommandArgs &args, const QueryCallbackPtr &callback)
{
    if (!args.hasAll({"srcFilePath", "xpath", "desFilePath"}))
        return;
    reply(callback, profiles.saveXmlAs(text(args, "srcFilePath"), text(args, "xpath"),
                                                text(args, "desFilePath")));
}

} // namespace

void registerProfileCommands(CommandRegistry &registry, ProfileStore &profiles, std::function<void()> beforeModifyProfile)
{
    using Command = void (*)(ProfileStore &, const CommandArgs &, const QueryCallbackPtr &);
    const std::pair<const char *, Command> commands[] = {
        {"queryProfile", queryProfile},
        {"nodeCounterProfile", nodeCounterProfile},
        {"modifyProfile", modifyProfile},
        {"modifyProfileEx", modifyProfileEx},
        {"modifyRemoveProfile", modifyRemoveProfile},
        {"modifyAddProfile", modifyAddProfile},
        {"modifyReplaceProfile", modifyReplaceProfile},
        {"modifyReplaceProfileEx", modifyReplaceProfileEx},
        {"resetProfile", resetProfile},
        {"queryHexByte", queryHexByte},
        {"savexml", savexml},
        {"saveXmlAs", saveXmlAs},
    };
    for (const auto &command : commands) {
        const Command run = command.second;
        // The page's profile view expects every "modifyProfile" to put the double-click time back
        // to the slowest step, whatever else happens to the request, a malformed one included.
        const std::function<void()> before =
            run == modifyProfile ? beforeModifyProfile : std::function<void()>();
        registry.add(QLatin1String(command.first), [&profiles, run, before](const CommandArgs &args,
                                                                          const QueryCallbackPtr &callback) {
            if (before)
                before();
            run(profiles, args, callback);
        });
    }
}
