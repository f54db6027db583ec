#include "cef_values.h"

bool CefListValue::SetSize(size_t size)
{
    m_items.resize(int(size));
    return true;
}

CefValueType CefListValue::GetType(size_t index) const
{
    return index < GetSize() ? m_items[int(index)].type : VTYPE_INVALID;
}

bool CefListValue::GetBool(size_t index) const
{
    return GetType(index) == VTYPE_BOOL && m_items[int(index)].value.toBool();
}

int CefListValue::GetInt(size_t index) const
{
    return GetType(index) == VTYPE_INT ? m_items[int(index)].value.toInt() : 0;
}

double CefListValue::GetDouble(size_t index) const
{
    return GetType(index) == VTYPE_DOUBLE ? m_items[int(index)].value.toDouble() : 0.0;
}

CefString CefListValue::GetString(size_t index) const
{
    return GetType(index) == VTYPE_STRING ? m_items[int(index)].value.toString() : CefString();
}

CefRefPtr<CefListValue> CefListValue::GetList(size_t index) const
{
    return GetType(index) == VTYPE_LIST ? m_items[int(index)].list : nullptr;
}

CefListValue::Item &CefListValue::slot(size_t index)
{
    if (index >= GetSize())
        m_items.resize(int(index) + 1);
    Item &item = m_items[int(index)];
    item = Item();
    return item;
}

bool CefListValue::SetNull(size_t index)
{
    slot(index);
    return true;
}

bool CefListValue::SetBool(size_t index, bool value)
{
    Item &item = slot(index);
    item.type = VTYPE_BOOL;
    item.value = value;
    return true;
}

bool CefListValue::SetInt(size_t index, int value)
{
    Item &item = slot(index);
    item.type = VTYPE_INT;
    item.value = value;
    return true;
}

bool CefListValue::SetDouble(size_t index, double value)
{
    Item &item = slot(index);
    item.type = VTYPE_DOUBLE;
    item.value = value;
    return true;
}

bool CefListValue::SetString(size_t index, const CefString &value)
{
    Item &item = slot(index);
    item.type = VTYPE_STRING;
    item.value = value;
    return true;
}

bool CefListValue::SetList(size_t index, CefRefPtr<CefListValue> value)
{
    if (!value)
        return false;
    Item &item = slot(index);
    item.type = VTYPE_LIST;
    item.list = value;
    return true;
}

bool CefListValue::SetOpaque(size_t index, CefValueType type)
{
    slot(index).type = type;
    return true;
}
