// The notification-area icon: a menu to bring the main window back or to end the program. The
// menu texts follow the language setting, refreshed each time the menu is asked for.
#pragma once

#include <QSystemTrayIcon>

class QAction;
class QMenu;
class QWidget;

class SystemTray : public QSystemTrayIcon {
    Q_OBJECT
public:
    explicit SystemTray(QWidget *parent);
    ~SystemTray() override;

    // An empty code keeps the texts; a code outside the table gets the fallback row.
    void setLanguage(const QString &language);

    QAction *openAction() const { return showAction; }
    QAction *closeAction() const { return exitAction; }

signals:
    void showWidget();
    void closeApp();

public slots:
    void doshowWidget();
    void docloseApp();

private:
    QMenu *menu = nullptr;
    QAction *showAction = nullptr;
    QAction *exitAction = nullptr;
};
