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

void queryProfile(Profiles &profiles, const CommandArgs &args, const QueryCallbackPtr &callback)
{
    if (!args.require({"filePath", "xpath"}))
        return;
    reply(callback, profiles.store.queryProfile(text(args, "filePath"), text(args, "xpath")));
}

void nodeCounterProfile(Profiles &profiles, const CommandArgs &args, const QueryCallbackPtr &callback)
{
    if (!args.require({"filePath", "xpath"}))
        return;
    reply(callback, profiles.store.nodeCounterProfile(text(args, "filePath"), text(args, "xpath")));
}

void modifyProfile(Profiles &profiles, const CommandArgs &args, const QueryCallbackPtr &callback)
{
    // The page's profile view expects every "modifyProfile" to put the double-click time back
    // to the slowest step, whatever else happens to the request, a malformed one included.
    if (profiles.beforeModifyProfile)
        profiles.beforeModifyProfile();
    if (!args.require({"filePath", "xpath", "attribute", "attributeValue"}))
        return;
    reply(callback, profiles.store.modifyProfile(text(args, "filePath"), text(args, "xpath"),
                                                    text(args, "attribute"), text(args, "attributeValue")));
}

void modifyProfileEx(Profiles &profiles, const CommandArgs &args, const QueryCallbackPtr &callback)
{
    if (!args.require({"filePath", "xpath", "subTreeString"}))
        return;
    reply(callback, profiles.store.modifyProfileEx(text(args, "filePath"), text(args, "xpath"),
                                                      text(args, "subTreeString")));
}

void modifyRemoveProfile(Profiles &profiles, const CommandArgs &args, const QueryCallbackPtr &callback)
{
    if (!args.require({"filePath", "xpath"}))
        return;
    reply(callback, profiles.store.modifyRemoveProfile(text(args, "filePath"), text(args, "xpath")));
}

void modifyAddProfile(Profiles &profiles, const CommandArgs &args, const QueryCallbackPtr &callback)
{
    if (!args.require({"filePath", "xpath", "attribute", "attributeValue"}))
        return;
    reply(callback, profiles.store.modifyAddProfile(text(args, "filePath"), text(args, "xpath"),
                                                       text(args, "attribute"), text(args, "attributeValue"),
                                                       text(args, "addNodeName")));
}

void modifyReplaceProfile(Profiles &profiles, const CommandArgs &args, const QueryCallbackPtr &callback)
{
    if (!args.require({"srcFilePath", "desFilePath", "srcXpath", "desXpath"}))
        return;
    reply(callback, profiles.store.modifyReplaceProfile(text(args, "srcFilePath"), text(args, "desFilePath"),
                                                           text(args, "srcXpath"), text(args, "desXpath")));
}

void modifyReplaceProfileEx(Profiles &profiles, const CommandArgs &args, const QueryCallbackPtr &callback)
{
    // "srcXpath" must be there although an import always starts at the package's top element.
    if (!args.require({"srcFilePath", "desFilePath", "srcXpath", "desXpath"}))
        return;
    reply(callback, profiles.store.modifyReplaceProfileEx(text(args, "srcFilePath"), text(args, "desFilePath"),
                                                             text(args, "desXpath")));
}

void resetProfile(Profiles &profiles, const CommandArgs &args, const QueryCallbackPtr &callback)
{
    if (!args.require({"srcFilePath", "desFilePath"}))
        return;
    reply(callback, profiles.store.resetProfile(text(args, "srcFilePath"), text(args, "desFilePath")));
}

void queryHexByte(Profiles &profiles, const CommandArgs &args, const QueryCallbackPtr &callback)
{
    if (!args.require({"filePath", "xpath", "args"}))
        return;
    reply(callback, profiles.store.queryHexByte(text(args, "filePath"), text(args, "xpath"), text(args, "args")));
}

void savexml(Profiles &profiles, const CommandArgs &, const QueryCallbackPtr &callback)
{
    reply(callback, profiles.store.savexml());
}

void saveXmlAs(Profiles &profiles, const CommandArgs &args, const QueryCallbackPtr &callback)
{
    if (!args.require({"srcFilePath", "xpath", "desFilePath"}))
        return;
    reply(callback, profiles.store.saveXmlAs(text(args, "srcFilePath"), text(args, "xpath"),
                                                text(args, "desFilePath")));
}

} // namespace

void registerProfileCommands(CommandRegistry &registry, Profiles &profiles)
{
    registry.addAll(profiles, {
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
                              });
}
