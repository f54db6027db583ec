// What the fuzz targets share: a private folder per process for the files a reader needs, and
// a way to cut an input into text fields.
#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QList>
#include <QString>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>
#include <cstdio>

namespace fuzz {

// Created on first use below the system's temporary folder and removed at exit: readers that
// take a path get their input through files here, never anywhere else.
inline const QString &privateDir()
{
    static QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/vexa-fuzz-XXXXXX"));
    if (!dir.isValid()) {
        std::fprintf(stderr, "no private folder for the fuzz target\n");
        std::abort();
    }
    static const QString path = dir.path();
    return path;
}

// Some readers reach for the application object (file names, standard paths).
inline void startApplication()
{
    static int argc = 1;
    static char name[] = "vexa-fuzz";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
}

inline QByteArray bytes(const uint8_t *data, size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), int(size));
}

// A property the reader must keep, checked in every build: abort() makes libFuzzer keep the input.
inline void require(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
        std::abort();
    }
}

} // namespace fuzz
