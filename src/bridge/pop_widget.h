// A secondary view of the page in a frameless window of its own. While it is the active
// window its page's queries reach the main window's dispatcher and the window commands act on
// it.
#pragma once

#include <QSize>
#include <QString>
#include <QWidget>

class VexaWebView;
class vexa;

class PopWidget : public QWidget {
    Q_OBJECT
public:
    PopWidget(const QString &url, const QSize &size, vexa *mainWindow);

    QString url() const { return m_url; }
    QSize viewSize() const { return m_size; }
    VexaWebView *view() const { return m_view; }

    // Called when the window is about to go: it no longer takes over on activation.
    void retire() { m_retired = true; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QString m_url;
    QSize m_size;
    VexaWebView *m_view = nullptr;
    vexa *m_mainWindow = nullptr;
    bool m_retired = false;
};
