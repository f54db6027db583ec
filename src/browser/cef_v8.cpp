#include "cef_v8.h"

#include <QVector>

namespace {
thread_local QVector<CefRefPtr<CefV8Context>> t_enteredContexts;
}

CefRefPtr<CefV8Context> CefV8Context::GetCurrentContext()
{
    return t_enteredContexts.isEmpty() ? nullptr : t_enteredContexts.last();
}

bool CefV8Context::Enter()
{
    t_enteredContexts.append(this);
    return true;
}

bool CefV8Context::Exit()
{
    if (t_enteredContexts.isEmpty() || t_enteredContexts.last().get() != this)
        return false;
    t_enteredContexts.removeLast();
    return true;
}

bool CefV8Context::CallFunction(int functionId, const QVariantList &args)
{
    if (!m_valid || !m_transport)
        return false;
    m_transport->callFunction(m_token, functionId, args);
    return true;
}

bool CefV8Context::DeliverQueryReply(int64 queryId, bool success, int code, const QString &text)
{
    if (!m_valid || !m_transport)
        return false;
    m_transport->deliverReply(m_token, queryId, success, code, text);
    return true;
}

bool CefV8Context::ForgetQuery(int64 queryId)
{
    if (!m_valid || !m_transport)
        return false;
    m_transport->forgetQuery(m_token, queryId);
    return true;
}

bool CefV8Context::CallNativeFunction(const QString &name, const CefV8ValueList &arguments, CefRefPtr<CefV8Value> &retval,
                                      CefString &exception)
{
    CefRefPtr<CefV8Handler> handler = m_functions.value(name);
    return handler && handler->Execute(name, CefV8Value::CreateObject(), arguments, retval, exception);
}
