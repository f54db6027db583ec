// The page's profile commands on a fixture profile. The input is one command a line, its fields
// separated by tabs: the command's name, then its text arguments in the order below; the file
// arguments are always the fixture's. After the commands an ordinary query must be answered, and
// every cached profile must still load, since that text is what a save writes.
#include "command_test_support.h"
#include "profile_commands.h"
#include "profile_fixture.h"
#include "profile_store.h"

namespace {

struct Shape {
    const char *name;
    QStringList keys; // the text arguments, in the input's order
    QVariantMap files;
};

const QList<Shape> &shapes()
{
    const QString profile = QLatin1String(fuzz::kProfilePath);
    const QString other = QLatin1String(fuzz::kOtherPath);
    static const QList<Shape> all = {
        {"queryProfile", {"xpath"}, {{"filePath", profile}}},
        {"nodeCounterProfile", {"xpath"}, {{"filePath", profile}}},
        {"modifyProfile", {"xpath", "attribute", "attributeValue"}, {{"filePath", profile}}},
        {"modifyProfileEx", {"xpath", "subTreeString"}, {{"filePath", profile}}},
        {"modifyRemoveProfile", {"xpath"}, {{"filePath", profile}}},
        {"modifyAddProfile", {"xpath", "attribute", "attributeValue", "addNodeName"}, {{"filePath", profile}}},
        {"modifyReplaceProfile", {"srcXpath", "desXpath"}, {{"srcFilePath", other}, {"desFilePath", profile}}},
        {"modifyReplaceProfileEx", {"srcXpath", "desXpath"},
         {{"srcFilePath", fuzz::packagePath()}, {"desFilePath", profile}}},
        {"resetProfile", {}, {{"srcFilePath", other}, {"desFilePath", profile}}},
        {"queryHexByte", {"xpath", "args"}, {{"filePath", profile}}},
    };
    return all;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString applicationDir = fuzz::applicationDir();
    ProfileStore store(applicationDir);
    Profiles profiles{store, {}};
    CommandRegistry registry;
    registerProfileCommands(registry, profiles);

    const QStringList lines = QString::fromUtf8(fuzz::bytes(data, size)).split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        const QStringList fields = line.split(QLatin1Char('\t'));
        for (const Shape &shape : shapes()) {
            if (fields.first() != QLatin1String(shape.name))
                continue;
            QVariantMap map = shape.files;
            for (int i = 0; i < shape.keys.size(); ++i)
                map.insert(shape.keys.at(i), fields.value(i + 1));
            CefRefPtr<RecordingCallback> callback(new RecordingCallback);
            registry.dispatch(fields.first(), CommandArgs(map), callback);
            fuzz::require(callback->replies.size() == 1, "every profile command with its arguments answers once");
        }
    }
    // No request may leave work behind that holds back the next command: an expression given up
    // after the time-out would.
    fuzz::require(store.nodeCounterProfile(QLatin1String(fuzz::kProfilePath), QStringLiteral("/*")).kind
                      == ProfileReply::Success,
                  "an ordinary query is answered after any input");
    for (const char *path : {fuzz::kProfilePath, fuzz::kOtherPath}) {
        const QString full = applicationDir + QLatin1Char('/') + QLatin1String(path);
        if (store.isCached(full))
            fuzz::requireLoadable(store.cachedText(full).toUtf8(), "a cached profile loads again");
    }
    return 0;
}
