#include "profile_commands.h"

#include "mouse_commands.h"
#include "profile_store.h"

namespace ProfileCommands {

namespace {

void reply(const vexa::Callback &callback, const ProfileReply &result)
{
    switch (result.kind) {
    case ProfileReply::Success:
        vexa::replySuccess(callback, result.text);
        break;
    case ProfileReply::Failure:
        vexa::replyFailure(callback, 0, result.text);
        break;
    case ProfileReply::None:
        break;
    }
}

QString text(const CommandArgs &args, const char *key)
{
    return args.toText(QString::fromLatin1(key));
}

} // namespace

void queryProfile(vexa &window, const CommandArgs &args, const vexa::Callback &callback)
{
    if (!args.hasAll({"filePath", "xpath"}))
        return;
    reply(callback, window.profiles().queryProfile(text(args, "filePath"), text(args, "xpath")));
}

void nodeCounterProfile(vexa &window, const CommandArgs &args, const vexa::Callback &callback)
{
    if (!args.hasAll({"filePath", "xpath"}))
        return;
    reply(callback, window.profiles().nodeCounterProfile(text(args, "filePath"), text(args, "xpath")));
}

void modifyProfile(vexa &window, const CommandArgs &args, const vexa::Callback &callback)
{
    // The page's profile view expects every edit to put the double-click time back to the
    // slowest step, whatever else happens to the request.
    setDoubleClickTime(0);
    if (!args.hasAll({"filePath", "xpath", "attribute", "attributeValue"}))
        return;
    reply(callback, window.profiles().modifyProfile(text(args, "filePath"), text(args, "xpath"),
                                                    text(args, "attribute"), text(args, "attributeValue")));
}

void modifyProfileEx(vexa &window, const CommandArgs &args, const vexa::Callback &callback)
{
    if (!args.hasAll({"filePath", "xpath", "subTreeString"}))
        return;
    reply(callback, window.profiles().modifyProfileEx(text(args, "filePath"), text(args, "xpath"),
                                                      text(args, "subTreeString")));
}

void modifyRemoveProfile(vexa &window, const CommandArgs &args, const vexa::Callback &callback)
{
    if (!args.hasAll({"filePath", "xpath"}))
        return;
    reply(callback, window.profiles().modifyRemoveProfile(text(args, "filePath"), text(args, "xpath")));
}

void modifyAddProfile(vexa &window, const CommandArgs &args, const vexa::Callback &callback)
{
    if (!args.hasAll({"filePath", "xpath", "attribute", "attributeValue"}))
        return;
    reply(callback, window.profiles().modifyAddProfile(text(args, "filePath"), text(args, "xpath"),
                                                       text(args, "attribute"), text(args, "attributeValue"),
                                                       text(args, "addNodeName")));
}

void modifyReplaceProfile(vexa &window, const CommandArgs &args, const vexa::Callback &callback)
{
    if (!args.hasAll({"srcFilePath", "desFilePath", "srcXpath", "desXpath"}))
        return;
    reply(callback, window.profiles().modifyReplaceProfile(text(args, "srcFilePath"), text(args, "desFilePath"),
                                                           text(args, "srcXpath"), text(args, "desXpath")));
}

void modifyReplaceProfileEx(vexa &window, const CommandArgs &args, const vexa::Callback &callback)
{
    // "srcXpath" must be there although an import always starts at the package's top element.
    if (!args.hasAll({"srcFilePath", "desFilePath", "srcXpath", "desXpath"}))
        return;
    reply(callback, window.profiles().modifyReplaceProfileEx(text(args, "srcFilePath"), text(args, "desFilePath"),
                                                             text(args, "desXpath")));
}

void resetProfile(vexa &window, const CommandArgs &args, const vexa::Callback &callback)
{
    if (!args.hasAll({"srcFilePath", "desFilePath"}))
        return;
    reply(callback, window.profiles().resetProfile(text(args, "srcFilePath"), text(args, "desFilePath")));
}

void queryHexByte(vexa &window, const CommandArgs &args, const vexa::Callback &callback)
{
    if (!args.hasAll({"filePath", "xpath", "args"}))
        return;
    reply(callback, window.profiles().queryHexByte(text(args, "filePath"), text(args, "xpath"), text(args, "args")));
}

void savexml(vexa &window, const CommandArgs &, const vexa::Callback &callback)
{
    reply(callback, window.profiles().savexml());
}

void saveXmlAs(vexa &window, const CommandArgs &args, const vexa::Callback &callback)
{
    if (!args.hasAll({"srcFilePath", "xpath", "desFilePath"}))
        return;
    reply(callback, window.profiles().saveXmlAs(text(args, "srcFilePath"), text(args, "xpath"),
                                                text(args, "desFilePath")));
}

} // namespace ProfileCommands
