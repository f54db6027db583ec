// The dialog's window: its four pages (the offer, the progress, the note, the failures), how
// their labels fit their texts, the background it paints, and moving it by that background.
#include "update_dlg.h"

#include "update_texts.h"

#include <QFrame>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QWindow>

void updateDlg::buildWidgets()
{
    closeButton = new QPushButton(this);
    closeButton->setObjectName(QStringLiteral("btn_closeSetuper"));
    closeButton->move(562, 20);
    closeButton->setFixedSize(18, 18);
    connect(closeButton, &QPushButton::clicked, this, &updateDlg::on_btn_closeSetuper_clicked);

    pages = new QStackedWidget(this);
    pages->move(10, 60);
    pages->setFixedSize(580, 310);
    pages->setContentsMargins(0, 0, 0, 0);

    pageFirst = new QFrame;
    pageFirst->setObjectName(QStringLiteral("pageFirst"));
    pageFirst->resize(580, 310);
    lb_text = new QLabel(pageFirst);
    lb_text->setObjectName(QStringLiteral("lb_text"));
    lb_text->move(110, 70);
    setLabelText(lb_text, QStringLiteral("Found the new version,update now?"));
    cancelButton = new QPushButton(QStringLiteral("cancel"), pageFirst);
    cancelButton->setObjectName(QStringLiteral("cancelButton"));
    cancelButton->move(180, 190);
    connect(cancelButton, &QPushButton::clicked, this, &updateDlg::on_btn_closeSetuper_clicked);
    uninstallButton = new QPushButton(QStringLiteral("Update"), pageFirst);
    uninstallButton->setObjectName(QStringLiteral("uninstallButton"));
    uninstallButton->move(300, 190);
    connect(uninstallButton, &QPushButton::clicked, this, &updateDlg::on_uninstallButton_clicekd);
    pages->addWidget(pageFirst);

    pageThird = new QFrame;
    pageThird->setObjectName(QStringLiteral("pageThird"));
    pageThird->resize(580, 310);
    lb_logo = new QLabel(pageThird);
    lb_logo->setObjectName(QStringLiteral("lb_logo"));
    lb_logo->move(156, 50);
    lb_install = new QLabel(pageThird);
    lb_install->setObjectName(QStringLiteral("lb_install"));
    lb_install->move(10, 195);
    lb_install->setFixedWidth(580);
    lb_install->setAlignment(Qt::AlignCenter);
    setLabelText(lb_install, UpdateTexts::downloading());
    pb_install = new QProgressBar(pageThird);
    pb_install->setObjectName(QStringLiteral("pb_install"));
    pb_install->move(47, 240);
    pb_install->setRange(0, 100);
    pb_install->setValue(0);
    pages->addWidget(pageThird);

    pageInfo = new QFrame;
    pageInfo->setObjectName(QStringLiteral("pageInfo"));
    pageInfo->resize(580, 310);
    lb_info = new QLabel(pageInfo);
    lb_info->setObjectName(QStringLiteral("lb_info"));
    lb_info->move(110, 70);
    setLabelText(lb_info, QStringLiteral("The current version is the latest version"));
    pb_ok = new QPushButton(QStringLiteral("confirm"), pageInfo);
    pb_ok->setObjectName(QStringLiteral("pb_ok"));
    pb_ok->move(240, 190);
    connect(pb_ok, &QPushButton::clicked, this, &updateDlg::on_pb_ok_clicked);
    pages->addWidget(pageInfo);

    pageFailed = new QFrame;
    pageFailed->setObjectName(QStringLiteral("pageFailed"));
    pageFailed->resize(580, 310);
    lb_failed = new QLabel(pageFailed);
    lb_failed->setObjectName(QStringLiteral("lb_failed"));
    lb_failed->setGeometry(30, 20, 520, 160);
    lb_failed->setWordWrap(true);
    lb_failed->setAlignment(Qt::AlignCenter);
    pb_close = new QPushButton(QStringLiteral("Close"), pageFailed);
    pb_close->setObjectName(QStringLiteral("pb_close"));
    pb_close->move(180, 190);
    connect(pb_close, &QPushButton::clicked, this, [this] {
        // A client package that made it waits behind the failures of the others.
        if (!m_clientReady) {
            reject();
            return;
        }
        m_failures.clear();
        settle();
    });
    pb_retry = new QPushButton(QStringLiteral("Retry"), pageFailed);
    pb_retry->setObjectName(QStringLiteral("pb_retry"));
    pb_retry->move(300, 190);
    connect(pb_retry, &QPushButton::clicked, this, &updateDlg::on_pb_retry_clicked);
    pages->addWidget(pageFailed);

    pages->setCurrentWidget(pageFirst);
}

void updateDlg::setLabelText(QLabel *label, const QString &text)
{
    label->setText(text);
    // Placed without a layout, a label keeps the size it was made with unless told to fit.
    label->ensurePolished();
    label->adjustSize();
}

void updateDlg::showEvent(QShowEvent *event)
{
    // The style sheet (fonts, button faces, the logo's size) applies at polish time, which for
    // a window comes with showing it; sizes taken before are those of the default style.
    const QList<QWidget *> children = findChildren<QWidget *>();
    for (QWidget *child : children) {
        child->ensurePolished();
        // Wrapped texts keep the box they were given; adjusted, they would shrink to one column.
        const auto *label = qobject_cast<QLabel *>(child);
        if (child != closeButton && child != pages && child->parentWidget() != pages && !(label && label->wordWrap()))
            child->adjustSize();
    }
    QDialog::showEvent(event);
}

void updateDlg::offerReflash()
{
    // On one line the question would run past the page.
    setLabelText(lb_text, QStringLiteral("A firmware update was interrupted.\nFlash the firmware again?"));
    uninstallButton->setText(QStringLiteral("Flash again"));
    uninstallButton->adjustSize();
    disconnect(uninstallButton, &QPushButton::clicked, this, nullptr);
    connect(uninstallButton, &QPushButton::clicked, this, [this] {
        pb_install->setTextVisible(false);
        runFirmwareStep(FlashStart::AlreadyInLoader);
        settle();
    });
    pages->setCurrentWidget(pageFirst);
}

void updateDlg::showInfoPage(const QString &text)
{
    if (!text.isEmpty()) {
        // A reason runs longer than the one line the note was laid out for.
        lb_info->setWordWrap(true);
        lb_info->setAlignment(Qt::AlignCenter);
        lb_info->setGeometry(30, 20, 520, 160);
        lb_info->setText(text);
    }
    pages->setCurrentWidget(pageInfo);
}

void updateDlg::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.drawPixmap(rect(), m_background);
}

bool updateDlg::isDragArea(const QPoint &position) const
{
    // Buttons, labels and the progress bar keep their clicks; the background, the margins and
    // the empty parts of a page move the window.
    const QWidget *child = childAt(position);
    return !child || child == pages || child == pages->currentWidget();
}

void updateDlg::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !isDragArea(event->pos())) {
        QDialog::mousePressEvent(event);
        return;
    }
    if (windowHandle() && windowHandle()->startSystemMove())
        return;
    m_dragging = true;
    m_dragOffset = event->globalPos() - frameGeometry().topLeft();
}

void updateDlg::mouseMoveEvent(QMouseEvent *event)
{
    if (m_dragging && (event->buttons() & Qt::LeftButton))
        move(event->globalPos() - m_dragOffset);
    else
        QDialog::mouseMoveEvent(event);
}

void updateDlg::mouseReleaseEvent(QMouseEvent *event)
{
    m_dragging = false;
    QDialog::mouseReleaseEvent(event);
}

void updateDlg::on_btn_closeSetuper_clicked()
{
    reject();
}

void updateDlg::on_pb_ok_clicked()
{
    reject();
}

void updateDlg::showFailurePage()
{
    QStringList lines;
    bool retryHelps = false;
    for (const Failure &failure : qAsConst(m_failures)) {
        lines << failure.text;
        retryHelps = retryHelps || failure.retry != RetryBy::Nothing;
    }
    if (m_clientReady)
        lines << UpdateTexts::clientReady();
    lb_failed->setText(lines.join(QStringLiteral("\n\n")));
    pb_retry->setVisible(retryHelps);
    pb_close->setText(m_clientReady ? QStringLiteral("Continue") : QStringLiteral("Close"));
    pb_close->move(retryHelps ? 180 : 240, 190);
    pages->setCurrentWidget(pageFailed);
    bringBack();
}

void updateDlg::bringBack()
{
    // Closed while the work went on: what went wrong is said all the same.
    if (!isVisible())
        show();
    raise();
    activateWindow();
}
