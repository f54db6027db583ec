// The program's own settings: the attributes of root/client in Resources/profiles/conf.xml below
// the application folder, plus two computed entries. The whole file text stays in memory because
// the same file carries the device catalogue, which must survive every rewrite untouched.
#pragma once

#include <QMap>
#include <QString>

using SettingsMap = QMap<QString, QString>;

class AppSettings {
public:
    // applicationDir: the folder holding Resources/; the running program's folder when empty.
    explicit AppSettings(const QString &applicationDir = QString());

    QString confFilePath() const;

    // Reads the file afresh. A missing or unparsable file leaves the map and the text empty.
    void load();

    QString value(const QString &key) const { return m_map.value(key); }
    // The value, with key entered empty first when absent: afterwards the key is a setting
    // that "getConf" lists and "setConf" may change (the file gains no attribute by this).
    QString valueInsertingEmpty(const QString &key) { return m_map[key]; }
    // Only keys already present can be set; false (and nothing changed) otherwise.
    bool setValue(const QString &key, const QString &value);
    SettingsMap map() const { return m_map; }

    QString confText() const { return m_confText; }
    void setConfText(const QString &text) { m_confText = text; }

    // Replaces the file with the conf text. The old file stays whole until the new one is
    // complete, so a crash or a full disk never leaves a truncated settings file. False when
    // nothing was written; error (if given) then names the file and why ("cannot write …: …").
    bool writeConfFile(QString *error = nullptr) const;

    enum class StoreResult { Written, NoSuchAttribute, Unparsable, NotWritten };
    // Sets the existing client attribute named key in the conf text and rewrites the file. An
    // attribute the file lacks is not created ("MacAddress", "IpAddress" live in the map only).
    // NotWritten: the file could not be replaced (error says why) and the conf text is kept as
    // it was, so it still matches the file.
    StoreResult storeAttribute(const QString &key, const QString &value, QString *error = nullptr);

private:
    QString m_applicationDir;
    SettingsMap m_map;
    QString m_confText;
};
