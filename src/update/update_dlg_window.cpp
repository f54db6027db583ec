// The dialog's window: its five pages (the offer, the progress, the note, the failures, the end),
// how their labels fit their texts, the background it paints, and moving it by that background.
#include "update_dlg.h"

#include "update_kinds.h"
#include "update_texts.h"

#include <QFrame>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QTextBrowser>
#include <QWindow>

namespace {

using UpdateTexts::Button;

// On page 0 the offer's details fill the room between the question and the buttons.
constexpr int kDetailsLeft = 110;
constexpr int kDetailsWidth = 380;
constexpr int kDetailsBottom = 184;
constexpr int kDetailsGap = 6;

// Our buttons grow with their words in every language; a pair stays around the page's middle,
// its right one where Update is, so the next step is under the same finger. Alone, a button
// is in the middle.
void placePair(QPushButton *left, QPushButton *right)
{
    for (QPushButton *button : {left, right}) {
        button->ensurePolished();
        button->adjustSize();
    }
    if (right->isHidden()) {
        left->move(292 - left->width() / 2, 190);
        return;
    }
    right->move(300, 190);
    left->move(284 - left->width(), 190);
}

} // namespace

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
    tb_offer = new QTextBrowser(pageFirst);
    tb_offer->setObjectName(QStringLiteral("tb_offer"));
    tb_offer->setFrameShape(QFrame::NoFrame);
    tb_offer->setOpenLinks(false);
    tb_offer->setFocusPolicy(Qt::NoFocus);
    tb_offer->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    tb_offer->document()->setDocumentMargin(0);
    tb_offer->hide();
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
    lb_progress = new QLabel(pageThird);
    lb_progress->setObjectName(QStringLiteral("lb_progress"));
    lb_progress->setTextFormat(Qt::PlainText);
    lb_progress->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    lb_progress->setGeometry(47, 256, 480, 54);
    lb_progress->setFixedSize(480, 54);
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
    // File names and the service's words are shown as they are, never read as markup.
    lb_failed->setTextFormat(Qt::PlainText);
    lb_failed->setObjectName(QStringLiteral("lb_failed"));
    lb_failed->setGeometry(30, 20, 520, 160);
    lb_failed->setWordWrap(true);
    lb_failed->setAlignment(Qt::AlignCenter);
    const QString lang = language();
    pb_close = new QPushButton(UpdateTexts::button(lang, Button::Close), pageFailed);
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
    pb_retry = new QPushButton(UpdateTexts::button(lang, Button::Retry), pageFailed);
    pb_retry->setObjectName(QStringLiteral("pb_retry"));
    pb_retry->move(300, 190);
    connect(pb_retry, &QPushButton::clicked, this, &updateDlg::on_pb_retry_clicked);
    pages->addWidget(pageFailed);

    pageDone = new QFrame;
    pageDone->setObjectName(QStringLiteral("pageDone"));
    pageDone->resize(580, 310);
    lb_done = new QLabel(pageDone);
    lb_done->setObjectName(QStringLiteral("lb_done"));
    lb_done->setTextFormat(Qt::PlainText);
    lb_done->setGeometry(30, 20, 520, 160);
    lb_done->setWordWrap(true);
    lb_done->setAlignment(Qt::AlignCenter);
    pb_done = new QPushButton(UpdateTexts::button(lang, Button::Close), pageDone);
    pb_done->setObjectName(QStringLiteral("pb_done"));
    pb_done->move(180, 190);
    // The update went through, whichever way the window is left.
    connect(pb_done, &QPushButton::clicked, this, &QDialog::accept);
    // Where Update was: the step after the last one is under the same finger.
    pb_reload = new QPushButton(UpdateTexts::button(lang, Button::Reload), pageDone);
    pb_reload->setObjectName(QStringLiteral("pb_reload"));
    pb_reload->move(300, 190);
    connect(pb_reload, &QPushButton::clicked, this, [this] {
        emit reloadPageRequested();
        accept();
    });
    pages->addWidget(pageDone);

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
        // The details box keeps the room placeDetails gives it, and its insides are its own.
        const bool details = child == tb_offer || tb_offer->isAncestorOf(child);
        if (child != closeButton && child != pages && child->parentWidget() != pages && !(label && label->wordWrap())
            && !details)
            child->adjustSize();
    }
    // The question's size is known now; the details go below it.
    placeDetails();
    placePair(pb_close, pb_retry);
    placePair(pb_done, pb_reload);
    QDialog::showEvent(event);
}

void updateDlg::showDetails(const QString &html)
{
    tb_offer->setHtml(html);
    tb_offer->setVisible(!html.isEmpty());
    placeDetails();
}

void updateDlg::placeDetails()
{
    const int top = lb_text->geometry().bottom() + kDetailsGap;
    tb_offer->setFixedSize(kDetailsWidth, qMax(kDetailsBottom - top, 2 * tb_offer->fontMetrics().height()));
    tb_offer->move(kDetailsLeft, top);
}

void updateDlg::showClientReady()
{
    // After a flash its outcome stays on the page, above the question.
    setLabelText(lb_text, m_flashOutcome.isEmpty()
                              ? QStringLiteral("The download is complete,Restart now?")
                              : m_flashOutcome + QStringLiteral("\nThe download is complete,Restart now?"));
    uninstallButton->setText(QStringLiteral("Restart Now"));
    uninstallButton->adjustSize();
    disconnect(uninstallButton, &QPushButton::clicked, this, nullptr);
    connect(uninstallButton, &QPushButton::clicked, this, &updateDlg::updateNow);

    const QString lang = language();
    QString html;
    const auto line = [&html](const QString &text) { html += QStringLiteral("<div>%1</div>").arg(text.toHtmlEscaped()); };
    const QStringList installed = installedPackages();
    if (!installed.isEmpty())
        line(UpdateTexts::headedList(lang, UpdateTexts::installedHeading(lang), installed));
    line(UpdateTexts::headedList(
        lang, UpdateTexts::readyHeading(lang),
        {UpdateTexts::packageLine(lang, UpdateKinds::kClient,
                                  m_client.version.isEmpty() ? m_client.offeredVersion : m_client.version)}));
    html += QStringLiteral("<div style=\"margin-top: 4px\">%1</div>").arg(UpdateTexts::afterClient(lang).toHtmlEscaped());
    showDetails(html);
    pages->setCurrentWidget(pageFirst);
}

QStringList updateDlg::installedPackages() const
{
    const QString lang = language();
    QStringList installed;
    if (m_pageInstalled)
        installed << UpdateTexts::packageLine(lang, UpdateKinds::kHtml, m_html.version);
    if (m_flashVerified)
        installed << UpdateTexts::packageLine(lang, UpdateKinds::kFirmware, m_firmware.version);
    return installed;
}

void updateDlg::showDonePage()
{
    const QString lang = language();
    QStringList lines{UpdateTexts::installedHeading(lang)};
    lines << installedPackages() << QString();
    if (m_pageInstalled)
        lines << UpdateTexts::afterPages(lang);
    if (m_flashVerified)
        lines << UpdateTexts::afterFirmware(lang);
    lb_done->setText(lines.join(QLatin1Char('\n')));
    // Without new pages there is nothing to reload: Close alone, in the middle.
    pb_reload->setVisible(m_pageInstalled);
    placePair(pb_done, pb_reload);
    pages->setCurrentWidget(pageDone);
}

void updateDlg::offerReflash()
{
    const QString lang = language();
    setLabelText(lb_text, UpdateTexts::reflashQuestion(lang));
    showDetails(QString());
    uninstallButton->setText(UpdateTexts::button(lang, Button::FlashAgain));
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
    const QString lang = language();
    // What did go in place is said beside what did not.
    const QStringList installed = installedPackages();
    if (!installed.isEmpty())
        lines << UpdateTexts::headedList(lang, UpdateTexts::installedHeading(lang), installed);
    if (m_clientReady)
        lines << UpdateTexts::clientReady(lang);
    lb_failed->setText(lines.join(QStringLiteral("\n\n")));
    pb_retry->setVisible(retryHelps);
    pb_close->setText(UpdateTexts::button(lang, m_clientReady ? Button::Continue : Button::Close));
    placePair(pb_close, pb_retry);
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
