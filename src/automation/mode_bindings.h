// The modes of the mode-binding file and the programs bound to them.
#pragma once

#include <QMap>
#include <QString>
#include <QVector>

struct ModeBinding {
    QString index;          // the mode's number as the page counts modes
    QString bindingProcess; // full program path, exactly as stored; empty: not bound
};

namespace ModeBindings {

// Application folder + "/view/xml/configuration.xml".
QString configurationPath(const QString &applicationDir);
// Every mode of the file in document order; none when the file is missing or malformed.
QVector<ModeBinding> read(const QString &path);
// Bound program → index. Unbound modes are left out; a program bound twice keeps the later mode.
QMap<QString, QString> byProgram(const QVector<ModeBinding> &modes);

} // namespace ModeBindings
