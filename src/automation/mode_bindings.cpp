#include "mode_bindings.h"

#include <QFile>

#include <pugixml.hpp>

namespace ModeBindings {

QString configurationPath(const QString &applicationDir)
{
    return applicationDir + QStringLiteral("/view/xml/configuration.xml");
}

QVector<ModeBinding> read(const QString &path)
{
    QVector<ModeBinding> modes;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return modes;
    const QByteArray bytes = file.readAll();
    pugi::xml_document document;
    if (!document.load_buffer(bytes.constData(), size_t(bytes.size())))
        return modes;
    for (const pugi::xpath_node &match : document.select_nodes("/conf/modeSetting/modes/mode")) {
        const pugi::xml_node mode = match.node();
        modes.append({QString::fromUtf8(mode.attribute("index").value()),
                      QString::fromUtf8(mode.attribute("bindingProcess").value())});
    }
    return modes;
}

QMap<QString, QString> byProgram(const QVector<ModeBinding> &modes)
{
    QMap<QString, QString> programs;
    for (const ModeBinding &mode : modes) {
        if (!mode.bindingProcess.isEmpty())
            programs.insert(mode.bindingProcess, mode.index);
    }
    return programs;
}

} // namespace ModeBindings
