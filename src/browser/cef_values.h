// Typed values and named process messages: the payload of a native event on its way to a page.
#pragma once

#include "cef_base.h"

#include <QVariant>
#include <QVector>

enum CefValueType {
    VTYPE_INVALID = 0,
    VTYPE_NULL,
    VTYPE_BOOL,
    VTYPE_INT,
    VTYPE_DOUBLE,
    VTYPE_STRING,
    VTYPE_BINARY,
    VTYPE_DICTIONARY,
    VTYPE_LIST,
};

class CefListValue : public CefBaseRefCounted {
public:
    static CefRefPtr<CefListValue> Create() { return new CefListValue; }

    size_t GetSize() const { return size_t(m_items.size()); }
    CefValueType GetType(size_t index) const;

    bool GetBool(size_t index) const { return valueOf(index, VTYPE_BOOL).toBool(); }
    int GetInt(size_t index) const { return valueOf(index, VTYPE_INT).toInt(); }
    double GetDouble(size_t index) const { return valueOf(index, VTYPE_DOUBLE).toDouble(); }
    CefString GetString(size_t index) const { return valueOf(index, VTYPE_STRING).toString(); }
    CefRefPtr<CefListValue> GetList(size_t index) const;

    // Setters grow the list as needed, as the runtime's do.
    bool SetNull(size_t index) { return set(index, VTYPE_NULL, {}); }
    bool SetBool(size_t index, bool value) { return set(index, VTYPE_BOOL, value); }
    bool SetInt(size_t index, int value) { return set(index, VTYPE_INT, value); }
    bool SetDouble(size_t index, double value) { return set(index, VTYPE_DOUBLE, value); }
    bool SetString(size_t index, const CefString &value) { return set(index, VTYPE_STRING, value); }
    bool SetList(size_t index, CefRefPtr<CefListValue> value);
    // A value of a type the page conversion does not know (binary, dictionary); kept for tests of
    // that conversion.
    bool SetOpaque(size_t index, CefValueType type) { return set(index, type, {}); }

private:
    struct Item {
        CefValueType type = VTYPE_NULL;
        QVariant value;
        CefRefPtr<CefListValue> list;
    };
    // The value at index if it is of that type, else an invalid one (false, 0, empty).
    QVariant valueOf(size_t index, CefValueType type) const;
    bool set(size_t index, CefValueType type, QVariant value, CefRefPtr<CefListValue> list = nullptr);
    QVector<Item> m_items;
};

class CefProcessMessage : public CefBaseRefCounted {
public:
    static CefRefPtr<CefProcessMessage> Create(const CefString &name) { return new CefProcessMessage(name); }
    CefString GetName() const { return m_name; }
    CefRefPtr<CefListValue> GetArgumentList() const { return m_args; }

private:
    explicit CefProcessMessage(const CefString &name) : m_name(name), m_args(CefListValue::Create()) {}
    CefString m_name;
    CefRefPtr<CefListValue> m_args;
};
