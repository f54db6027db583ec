#include "pop_widget.h"

#include "client_handler.h"
#include "vexa.h"
#include "vexa_web_view.h"

#include <QEvent>
#include <QUrl>

PopWidget::PopWidget(const QString &url, const QSize &size, vexa *mainWindow)
    : QWidget(mainWindow, Qt::Dialog | Qt::FramelessWindowHint), m_url(url), m_size(size), m_mainWindow(mainWindow)
{
    resize(size);
    m_view = new VexaWebView(this);
    m_view->resize(size);
    m_view->load(QUrl(url));
    installEventFilter(this);
}

bool PopWidget::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == this && event->type() == QEvent::WindowActivate) {
        if (!m_retired) {
            if (CefRefPtr<ClientHandler> handler = ClientHandler::current()) {
                handler->SetListener(m_view);
                handler->SetMainWindowHandle(winId());
            }
            if (m_mainWindow)
                m_mainWindow->popUpActivated(this);
        }
        return true;
    }
    return QWidget::eventFilter(watched, event);
}
