// Linux: the window system's pointer acceleration for speed (the desktop backend's part);
// GNOME's settings store (through GIO, loaded at run time so neither a build nor a run needs it)
// for the double-click time; Qt's own hints for this program, which its page follows, in any case.
#include "mouse_settings.h"

#include "desktop_backend.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QStyleHints>

#include <dlfcn.h>

namespace {

// GNOME's settings store through a run-time loaded GIO. Writes only when a real backend is there:
// the memory backend that GIO falls back to would take the value and forget it.
class GnomeSettings {
public:
    static GnomeSettings &instance()
    {
        static GnomeSettings settings;
        return settings;
    }

    bool setInt(const char *schemaId, const char *key, int value)
    {
        if (!m_loaded || !persistentBackend())
            return false;
        void *schema = m_lookup(m_defaultSource(), schemaId, 1);
        if (!schema)
            return false; // g_settings_new would abort on an unknown schema
        const bool hasKey = m_hasKey(schema, key);
        m_schemaUnref(schema);
        if (!hasKey)
            return false;
        void *settings = m_settingsNew(schemaId);
        const bool written = settings && m_setInt(settings, key, value);
        if (settings) {
            m_sync();
            m_objectUnref(settings);
        }
        return written;
    }

private:
    GnomeSettings()
    {
        m_library = dlopen("libgio-2.0.so.0", RTLD_LAZY | RTLD_LOCAL);
        if (!m_library)
            return;
        m_defaultSource = resolve<void *(*)()>("g_settings_schema_source_get_default");
        m_lookup = resolve<void *(*)(void *, const char *, int)>("g_settings_schema_source_lookup");
        m_hasKey = resolve<int (*)(void *, const char *)>("g_settings_schema_has_key");
        m_schemaUnref = resolve<void (*)(void *)>("g_settings_schema_unref");
        m_settingsNew = resolve<void *(*)(const char *)>("g_settings_new");
        m_setInt = resolve<int (*)(void *, const char *, int)>("g_settings_set_int");
        m_sync = resolve<void (*)()>("g_settings_sync");
        m_objectUnref = resolve<void (*)(void *)>("g_object_unref");
        m_backendDefault = resolve<void *(*)()>("g_settings_backend_get_default");
        m_typeName = resolve<const char *(*)(void *)>("g_type_name_from_instance");
        m_loaded = m_defaultSource && m_lookup && m_hasKey && m_schemaUnref && m_settingsNew && m_setInt && m_sync
                   && m_objectUnref && m_backendDefault && m_typeName;
    }

    template <typename F> F resolve(const char *name) { return reinterpret_cast<F>(dlsym(m_library, name)); }

    bool persistentBackend()
    {
        if (!m_defaultSource())
            return false; // no schemas installed at all
        void *backend = m_backendDefault();
        if (!backend)
            return false;
        const QByteArray type = m_typeName(backend);
        m_objectUnref(backend);
        return type != "GMemorySettingsBackend" && type != "GNullSettingsBackend";
    }

    void *m_library = nullptr;
    bool m_loaded = false;
    void *(*m_defaultSource)() = nullptr;
    void *(*m_lookup)(void *, const char *, int) = nullptr;
    int (*m_hasKey)(void *, const char *) = nullptr;
    void (*m_schemaUnref)(void *) = nullptr;
    void *(*m_settingsNew)(const char *) = nullptr;
    int (*m_setInt)(void *, const char *, int) = nullptr;
    void (*m_sync)() = nullptr;
    void (*m_objectUnref)(void *) = nullptr;
    void *(*m_backendDefault)() = nullptr;
    const char *(*m_typeName)(void *) = nullptr;
};

QStyleHints *qtHints()
{
    return qobject_cast<QGuiApplication *>(QCoreApplication::instance()) ? QGuiApplication::styleHints() : nullptr;
}

} // namespace

namespace MouseSettings {

bool setPointerSpeed(int speed)
{
    if (speed < 1 || speed > 20)
        return false;
    return platform::desktopBackend().setPointerSpeed(speed);
}

bool setWheelScrollLines(int lines)
{
    // There is no page-at-a-time mode here to stand for a negative count.
    if (lines < 0)
        return false;
    QStyleHints *hints = qtHints();
    if (!hints)
        return false;
    hints->setWheelScrollLines(lines);
    return true;
}

bool setDoubleClickTime(int milliseconds)
{
    if (milliseconds <= 0)
        return false;
    const bool desktop =
        GnomeSettings::instance().setInt("org.gnome.desktop.peripherals.mouse", "double-click", milliseconds);
    return setOwnDoubleClickTime(milliseconds) || desktop;
}

bool setOwnDoubleClickTime(int milliseconds)
{
    QStyleHints *hints = qtHints();
    if (milliseconds <= 0 || !hints)
        return false;
    hints->setMouseDoubleClickInterval(milliseconds);
    return true;
}

} // namespace MouseSettings
