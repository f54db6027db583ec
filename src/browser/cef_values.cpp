#include "cef_values.h"

CefValueType CefListValue::GetType(size_t index) const
{
    return index < GetSize() ? m_items[int(index)].type : VTYPE_INVALID;
}

QVariant CefListValue::valueOf(size_t index, CefValueType type) const
{
    return GetType(index) == type ? m_items[int(index)].value : QVariant();
}

CefRefPtr<CefListValue> CefListValue::GetList(size_t index) const
{
    return GetType(index) == VTYPE_LIST ? m_items[int(index)].list : nullptr;
}

bool CefListValue::set(size_t index, CefValueType type, QVariant value, CefRefPtr<CefListValue> list)
{
    if (index >= GetSize())
        m_items.resize(int(index) + 1);
    m_items[int(index)] = Item{type, std::move(value), std::move(list)};
    return true;
}

bool CefListValue::SetList(size_t index, CefRefPtr<CefListValue> value)
{
    return value && set(index, VTYPE_LIST, {}, value);
}
