#include "systemtray.h"

#include <QAction>
#include <QIcon>
#include <QMenu>
#include <QWidget>

namespace {

struct MenuTexts {
    const char *language;
    const char *open;
    const char *close;
};

// Codes compare exactly, letter case included. "en" and the German, Russian and Korean rows say
// "Open" and "Exit"; earlier rows there meant "opened / nearby" and showed Japanese for "en".
const MenuTexts kMenuTexts[] = {
    {"en", "Open", "Exit"},
    {"zh", "打开", "关闭"},
    {"zh-TW", "打開", "關閉"},
    {"zh-HK", "打開", "關閉"},
    {"de-DE", "Öffnen", "Beenden"},
    {"ja", "オープン", "クローズ"},
    {"ru", "Открыть", "Выход"},
    {"ko", "열기", "종료"},
};

} // namespace

SystemTray::SystemTray(QWidget *parent) : QSystemTrayIcon(parent)
{
    setIcon(QIcon(QStringLiteral(":/systemtray/tray_icon")));
    menu = new QMenu(parent);
    setContextMenu(menu);
    setVisible(true);
    showAction = new QAction(QStringLiteral("Open"), this);
    exitAction = new QAction(QStringLiteral("Exit"), this);
    menu->addAction(showAction);
    menu->addSeparator();
    menu->addAction(exitAction);
    connect(showAction, &QAction::triggered, this, &SystemTray::doshowWidget);
    connect(exitAction, &QAction::triggered, this, &SystemTray::docloseApp);
}

SystemTray::~SystemTray()
{
    delete menu;
    delete showAction;
    delete exitAction;
}

void SystemTray::setLanguage(const QString &language)
{
    if (language.isEmpty())
        return;
    QString open = QStringLiteral("設定画面を開く");
    QString close = QStringLiteral("終了");
    for (const MenuTexts &row : kMenuTexts) {
        if (language == QLatin1String(row.language)) {
            open = QString::fromUtf8(row.open);
            close = QString::fromUtf8(row.close);
            break;
        }
    }
    showAction->setText(open);
    exitAction->setText(close);
}

void SystemTray::doshowWidget()
{
    emit showWidget();
}

void SystemTray::docloseApp()
{
    emit closeApp();
}
