// The application folder the profile targets work in: two profiles and a package, written once
// per process into the target's private folder. The commands that write files (savexml,
// saveXmlAs) are not run; the others change only the cache.
#pragma once

#include "fuzz_support.h"
#include "profile_package.h"

#include <QFile>

#include <pugixml.hpp>

namespace fuzz {

constexpr char kProfilePath[] = "view/profiles/p.xml";
constexpr char kOtherPath[] = "view/profiles/o.xml";

inline const char *profileText()
{
    return R"(<?xml version="1.0"?>
<profile name="default">
	<keys>
		<key id="1" code="0x02,%,0x00,%" label="A" />
		<key id="2" code="0x05,0x06" label="B" />
		<key id="3" label="C" />
	</keys>
	<light color="red" level="3">glow</light>
	<macros><macro id="1"><item key="4" down="1" /></macro></macros>
</profile>
)";
}

inline void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    require(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size(),
            "the fixture is written");
}

// The application folder, filled on first use.
inline const QString &applicationDir()
{
    static const QString dir = [] {
        const QString root = privateDir() + QStringLiteral("/app");
        require(QDir().mkpath(root + QStringLiteral("/view/profiles")), "the fixture folder exists");
        writeFile(root + QLatin1Char('/') + QLatin1String(kProfilePath), profileText());
        writeFile(root + QLatin1Char('/') + QLatin1String(kOtherPath),
                  "<?xml version=\"1.0\"?>\n<other><light color=\"blue\" level=\"9\" /><key id=\"9\" /></other>\n");
        writeFile(root + QStringLiteral("/p.pfd"),
                  ProfilePackage::encode("<profile><keys><key id=\"7\" /></keys></profile>"));
        return root;
    }();
    return dir;
}

inline QString packagePath()
{
    return applicationDir() + QStringLiteral("/p.pfd");
}

// What a save would write must load again, and the same way the store loads it.
inline void requireLoadable(const QByteArray &text, const char *what)
{
    pugi::xml_document document;
    require(document.load_buffer(text.constData(), qstrlen(text.constData()), pugi::parse_default, pugi::encoding_utf8),
            what);
}

} // namespace fuzz
