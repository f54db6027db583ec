#include "page_event_delegate.h"

namespace performance_test {

bool isPageEventName(const QString &name)
{
    static const QStringList names = {
        QStringLiteral("devicesChanged"),   QStringLiteral("onDeviceData"),     QStringLiteral("currentPropChanged"),
        QStringLiteral("macroItem"),        QStringLiteral("onProcessChanged"), QStringLiteral("navStateChanged"),
        QStringLiteral("onBrowserMsg"),
    };
    return names.contains(name);
}

QVariantList toPageValues(const CefRefPtr<CefListValue> &values)
{
    QVariantList array;
    const size_t size = values ? values->GetSize() : 0;
    array.reserve(int(size));
    for (size_t i = 0; i < size; ++i) {
        switch (values->GetType(i)) {
        case VTYPE_BOOL: array.append(values->GetBool(i)); break;
        case VTYPE_INT: array.append(values->GetInt(i)); break;
        case VTYPE_DOUBLE: array.append(values->GetDouble(i)); break;
        case VTYPE_STRING: array.append(values->GetString(i)); break;
        case VTYPE_LIST: array.append(QVariant(toPageValues(values->GetList(i)))); break;
        default: array.append(QVariant()); break;
        }
    }
    return array;
}

bool V8Handler::Execute(const CefString &, CefRefPtr<CefV8Value>, const CefV8ValueList &arguments,
                        CefRefPtr<CefV8Value> &, CefString &)
{
    if (arguments.size() != 2 || !arguments[0]->IsString() || !arguments[1]->IsFunction())
        return false;
    CefRefPtr<CefV8Context> context = CefV8Context::GetCurrentContext();
    if (!context || !context->GetBrowser())
        return false;
    const auto key = std::make_pair(arguments[0]->GetStringValue().toStdString(), context->GetBrowser()->GetIdentifier());
    // emplace keeps an existing entry: the first registration wins until its context goes.
    RenderDelegate::callbacks().emplace(key, std::make_pair(context, arguments[1]));
    return false;
}

void RenderDelegate::OnContextCreated(CefRefPtr<ClientApp>, CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>,
                                      CefRefPtr<CefV8Context> context)
{
    // cefQuery and cefQueryCancel come with the page script of every document; their queries go
    // to the browser side of the router without passing through here.
    context->SetNativeFunction(QStringLiteral("setMessageCallback"), new V8Handler);
}

void RenderDelegate::OnContextReleased(CefRefPtr<ClientApp>, CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>,
                                       CefRefPtr<CefV8Context> context)
{
    CallbackMap &map = callbacks();
    for (auto it = map.begin(); it != map.end();) {
        if (it->second.first->IsSame(context))
            it = map.erase(it);
        else
            ++it;
    }
}

bool RenderDelegate::OnProcessMessageReceived(CefRefPtr<ClientApp>, CefRefPtr<CefBrowser> browser, CefProcessId,
                                              CefRefPtr<CefProcessMessage> message)
{
    CallbackMap &map = callbacks();
    const QString name = message->GetName();
    if (map.empty() || !isPageEventName(name))
        return false;
    auto it = map.find(std::make_pair(name.toStdString(), browser->GetIdentifier()));
    if (it == map.end())
        return false;

    // Hold on to both: the callback may register or remove entries.
    CefRefPtr<CefV8Context> context = it->second.first;
    CefRefPtr<CefV8Value> function = it->second.second;
    context->Enter();
    // The page runs the callback after this returns, so its result cannot be known here; the
    // runtime makes no use of it either.
    context->CallFunction(function->functionId(), toPageValues(message->GetArgumentList()));
    context->Exit();
    return false;
}

void CreateRenderDelegates(ClientApp::RenderDelegateSet &delegates)
{
    delegates.push_back(new RenderDelegate);
}

} // namespace performance_test
