#include "update_texts.h"

#include "firmware_flash.h"
#include "update_folders.h"
#include "update_kinds.h"

#include <QDir>
#include <QHash>
#include <QLocale>
#include <QRegularExpression>

namespace UpdateTexts {

namespace {

// One text in every language, in the order of languages(). A sentence is written whole in each
// language: pieces glued together would not agree in number, gender or case. Package kinds go
// into sentences only as names ("Pages: …", "the package “Pages”"), which need no agreement.
struct Words {
    const char *en;
    const char *zh;
    const char *zhTW;
    const char *de;
    const char *ja;
    const char *ru;
    const char *ko;
};

QString in(const QString &language, const Words &words)
{
    const int index = languages().indexOf(language);
    const char *const all[] = {words.en, words.zh, words.zhTW, words.de, words.ja, words.ru, words.ko};
    return QString::fromUtf8(all[index < 0 ? 0 : index]);
}

// Texts that name a button name it as the button shows it in that language.
const Words kClose{"Close", "关闭", "關閉", "Schließen", "閉じる", "Закрыть", "닫기"};
const Words kRetry{"Retry", "重试", "重試", "Wiederholen", "再試行", "Повторить", "다시 시도"};
const Words kContinue{"Continue", "继续", "繼續", "Weiter", "続ける", "Продолжить", "계속"};
const Words kReload{"Reload", "重新加载", "重新載入", "Neu laden", "再読み込み", "Перезагрузить", "새로 고침"};
// On the offer's own button, which has room for a short word only.
const Words kFlashAgain{"Flash again", "重新写入", "重新寫入", "Neu flashen", "再書き込み", "Прошить", "다시 쓰기"};

// "Pages: installed": the name of the package, then where it is.
const Words kStepLine{"%1: %2", "%1：%2", "%1：%2", "%1: %2", "%1：%2", "%1: %2", "%1: %2"};

const Words kKeepsRunning{"vexa keeps running as it is.", "vexa 将保持当前版本继续运行。", "vexa 將維持目前版本繼續執行。",
                          "vexa läuft unverändert weiter.", "vexa は今のまま動作を続けます。",
                          "vexa продолжает работать без изменений.", "vexa는 지금 상태로 계속 실행됩니다."};
const Words kTryLater{"Please try again later.", "请稍后再试。", "請稍後再試。", "Bitte versuchen Sie es später erneut.",
                      "しばらくしてからもう一度お試しください。", "Повторите попытку позже.", "나중에 다시 시도하세요."};

QString joined(const QString &language, const QString &first, const QString &second)
{
    // Chinese and Japanese sentences follow each other without a space.
    const bool spaced = language != QLatin1String("zh") && language != QLatin1String("zh-TW") && language != QLatin1String("ja");
    return spaced ? first + QLatin1Char(' ') + second : first + second;
}

QLocale localeOf(const QString &language)
{
    static const QHash<QString, QString> names{{QStringLiteral("en"), QStringLiteral("en_US")},
                                               {QStringLiteral("zh"), QStringLiteral("zh_CN")},
                                               {QStringLiteral("zh-TW"), QStringLiteral("zh_TW")},
                                               {QStringLiteral("de-DE"), QStringLiteral("de_DE")},
                                               {QStringLiteral("ja"), QStringLiteral("ja_JP")},
                                               {QStringLiteral("ru"), QStringLiteral("ru_RU")},
                                               {QStringLiteral("ko"), QStringLiteral("ko_KR")}};
    return QLocale(names.value(language, QStringLiteral("en_US")));
}

} // namespace

const QStringList &languages()
{
    static const QStringList codes{QStringLiteral("en"), QStringLiteral("zh"), QStringLiteral("zh-TW"),
                                   QStringLiteral("de-DE"), QStringLiteral("ja"), QStringLiteral("ru"),
                                   QStringLiteral("ko")};
    return codes;
}

QString languageOf(const QString &setting)
{
    // The page's list (view/js/languages.js) names these the same way.
    static const QHash<QString, QString> aliases{
        {QStringLiteral("zh-HK"), QStringLiteral("zh-TW")},   {QStringLiteral("zh-MO"), QStringLiteral("zh-TW")},
        {QStringLiteral("zh-Hant"), QStringLiteral("zh-TW")}, {QStringLiteral("zh-CN"), QStringLiteral("zh")},
        {QStringLiteral("zh-SG"), QStringLiteral("zh")},      {QStringLiteral("zh-Hans"), QStringLiteral("zh")}};
    const QString code = setting.trimmed();
    if (languages().contains(code))
        return code;
    if (aliases.contains(code))
        return aliases.value(code);
    const QString base = code.section(QRegularExpression(QStringLiteral("[-_]")), 0, 0).toLower();
    for (const QString &language : languages())
        if (language.section(QLatin1Char('-'), 0, 0) == base)
            return language;
    return QStringLiteral("en");
}

QString kindName(const QString &language, const QString &kind)
{
    if (kind == UpdateKinds::kClient)
        return in(language, {"vexa program", "vexa 程序", "vexa 程式", "vexa-Programm", "vexa 本体", "Программа vexa",
                             "vexa 프로그램"});
    if (kind == UpdateKinds::kHtml)
        return in(language, {"Pages", "页面", "頁面", "Seiten", "ページ", "Страницы", "페이지"});
    return in(language, {"Pad firmware", "手柄固件", "手把韌體", "Pad-Firmware", "パッドのファームウェア", "Прошивка геймпада",
                         "패드 펌웨어"});
}

QString size(const QString &language, qint64 bytes)
{
    const QLocale locale = localeOf(language);
    const bool russian = language == QLatin1String("ru");
    // A no-break space: a number is never parted from its unit.
    const QString unit = QStringLiteral("\u00a0%1");
    if (bytes < 1024)
        return locale.toString(bytes) + unit.arg(russian ? QStringLiteral("Б") : QStringLiteral("B"));
    if (bytes < 1024 * 1024)
        return locale.toString((bytes + 1023) / 1024) + unit.arg(russian ? QStringLiteral("КБ") : QStringLiteral("KB"));
    if (bytes < qint64(1024) * 1024 * 1024)
        return locale.toString(double(bytes) / (1024 * 1024), 'f', 1)
               + unit.arg(russian ? QStringLiteral("МБ") : QStringLiteral("MB"));
    return locale.toString(double(bytes) / (1024 * 1024 * 1024), 'f', 1)
           + unit.arg(russian ? QStringLiteral("ГБ") : QStringLiteral("GB"));
}

QString packageLine(const QString &language, const QString &kind, const QString &version, qint64 bytes)
{
    QString line = kindName(language, kind);
    if (!version.isEmpty())
        line += QLatin1Char(' ') + version;
    if (bytes >= 0)
        line += QStringLiteral(" · ") + size(language, bytes);
    return line;
}

QString notesHeading(const QString &language)
{
    return in(language, {"What's new:", "更新内容：", "更新內容：", "Neu in dieser Version:", "更新内容：", "Что нового:",
                         "새로운 내용:"});
}

QString stepLine(const QString &language, const QString &kind, Step step, qint64 done, qint64 whole)
{
    QString state;
    switch (step) {
    case Step::None:
        return QString();
    case Step::Asking:
        state = in(language, {"connecting…", "正在连接…", "正在連線…", "Verbindung wird aufgebaut …", "接続しています…",
                              "подключение…", "연결하는 중…"});
        break;
    case Step::Downloading:
        if (whole > 0)
            state = in(language, {"%1 of %2", "%1 / %2", "%1 / %2", "%1 von %2", "%1 / %2", "%1 из %2", "%1 / %2"})
                        .arg(size(language, done), size(language, whole));
        else
            state = in(language, {"%1 downloaded", "已下载 %1", "已下載 %1", "%1 heruntergeladen", "%1 ダウンロード済み",
                                  "загружено %1", "%1 받음"})
                        .arg(size(language, done));
        break;
    case Step::Unpacking:
        state = in(language, {"checking and unpacking…", "正在校验并解压…", "正在驗證並解壓縮…", "Prüfen und Entpacken …",
                              "検証して展開しています…", "проверка и распаковка…", "확인하고 압축을 푸는 중…"});
        break;
    case Step::Installing:
        state = in(language, {"installing…", "正在安装…", "正在安裝…", "Installation …", "インストールしています…",
                              "установка…", "설치하는 중…"});
        break;
    case Step::WaitsForPages:
        state = in(language, {"downloaded, waits for the pages", "已下载，等待页面安装", "已下載，等待頁面安裝",
                              "heruntergeladen, wartet auf die Seiten", "ダウンロード済み、ページのインストール待ち",
                              "загрузка завершена, ожидание страниц", "다운로드됨, 페이지 설치 대기 중"});
        break;
    case Step::Flashing:
        state = in(language, {"writing to the pad…", "正在写入手柄…", "正在寫入手把…", "Schreiben auf das Pad …",
                              "パッドに書き込んでいます…", "запись в геймпад…", "패드에 쓰는 중…"});
        break;
    case Step::Installed:
        state = in(language, {"installed", "已安装", "已安裝", "installiert", "インストール済み", "установка завершена", "설치됨"});
        break;
    case Step::Ready:
        state = in(language, {"ready, installed when vexa restarts", "已就绪，将在 vexa 重新启动时安装",
                              "已就緒，將在 vexa 重新啟動時安裝", "bereit, wird beim Neustart von vexa installiert",
                              "準備完了、vexa の再起動時にインストール", "готово, установка при перезапуске vexa",
                              "준비됨, vexa를 다시 시작할 때 설치"});
        break;
    case Step::Written:
        state = in(language, {"written to the pad", "已写入手柄", "已寫入手把", "auf das Pad geschrieben", "パッドに書き込み済み",
                              "записана в геймпад", "패드에 기록됨"});
        break;
    case Step::Failed:
        state = in(language, {"failed", "失败", "失敗", "fehlgeschlagen", "失敗しました", "ошибка", "실패"});
        break;
    }
    return in(language, kStepLine).arg(kindName(language, kind), state);
}

QString downloading()
{
    return QStringLiteral("Downloading package resources。。。");
}

QString installingPages(const QString &language)
{
    return in(language, {"Installing the new pages…", "正在安装新页面…", "正在安裝新頁面…", "Die neuen Seiten werden installiert …",
                         "新しいページをインストールしています…", "Установка новых страниц…", "새 페이지를 설치하는 중…"});
}

QString preparingFlash(const QString &language)
{
    return in(language, {"Preparing the firmware update…", "正在准备固件更新…", "正在準備韌體更新…",
                         "Das Firmware-Update wird vorbereitet …", "ファームウェアの更新を準備しています…",
                         "Подготовка обновления прошивки…", "펌웨어 업데이트를 준비하는 중…"});
}

QString installedHeading(const QString &language)
{
    return in(language, {"Installed:", "已安装：", "已安裝：", "Installiert:", "インストールしたもの：", "Установлено:", "설치됨:"});
}

QString readyHeading(const QString &language)
{
    return in(language, {"Ready to install:", "待安装：", "待安裝：", "Bereit zur Installation:", "インストール待ち：",
                         "Готово к установке:", "설치 준비됨:"});
}

QString headedList(const QString &language, const QString &heading, const QStringList &items)
{
    const bool cjk = language == QLatin1String("zh") || language == QLatin1String("zh-TW") || language == QLatin1String("ja");
    // A full-width colon carries its own space.
    return heading + (cjk ? QString() : QStringLiteral(" ")) + items.join(cjk ? QStringLiteral("、") : QStringLiteral(", "));
}

QString afterPages(const QString &language)
{
    return in(language, {"vexa still shows the pages it loaded before: Reload shows the new ones.",
                         "vexa 仍显示之前加载的页面：点击“重新加载”即可显示新页面。",
                         "vexa 仍顯示先前載入的頁面：按「重新載入」即可顯示新頁面。",
                         "vexa zeigt noch die zuvor geladenen Seiten: „Neu laden“ zeigt die neuen.",
                         "vexa には以前に読み込んだページが表示されています。「再読み込み」で新しいページを表示します。",
                         "vexa пока показывает прежние страницы: «Перезагрузить» покажет новые.",
                         "vexa는 아직 이전에 불러온 페이지를 보여 줍니다. '새로 고침'을 누르면 새 페이지가 나타납니다."});
}

QString afterFirmware(const QString &language)
{
    return in(language, {"The pad restarts with the new firmware.", "手柄将以新固件重新启动。", "手把將以新韌體重新啟動。",
                         "Das Pad startet mit der neuen Firmware neu.", "パッドは新しいファームウェアで再起動します。",
                         "Геймпад перезапустится с новой прошивкой.", "패드가 새 펌웨어로 다시 시작됩니다."});
}

QString afterClient(const QString &language)
{
    // "Restart Now" is the button's own text in every language.
    return in(language,
              {"Restart Now installs it and starts vexa again. Otherwise it is installed the next time vexa ends.",
               "点击“Restart Now”即可安装并重新启动 vexa；否则将在下次退出 vexa 时安装。",
               "按「Restart Now」即可安裝並重新啟動 vexa；否則將在下次結束 vexa 時安裝。",
               "„Restart Now“ installiert es und startet vexa neu. Sonst wird es installiert, wenn vexa das nächste Mal "
               "beendet wird.",
               "「Restart Now」でインストールして vexa を再起動します。押さない場合は、次に vexa を終了したときにインストールされます。",
               "«Restart Now» установит её и перезапустит vexa. Иначе установка произойдёт при следующем выходе из vexa.",
               "'Restart Now'를 누르면 설치하고 vexa를 다시 시작합니다. 누르지 않으면 다음에 vexa를 종료할 때 설치됩니다."});
}

QString button(const QString &language, Button which)
{
    switch (which) {
    case Button::Close:
        return in(language, kClose);
    case Button::Retry:
        return in(language, kRetry);
    case Button::Continue:
        return in(language, kContinue);
    case Button::Reload:
        return in(language, kReload);
    case Button::FlashAgain:
        return in(language, kFlashAgain);
    }
    return QString();
}

QString reflashQuestion(const QString &language)
{
    // On one line the question would run past the page.
    return in(language, {"A firmware update was interrupted.\nFlash the firmware again?", "固件更新曾被中断。\n要重新写入固件吗？",
                         "韌體更新曾被中斷。\n要重新寫入韌體嗎？", "Ein Firmware-Update wurde unterbrochen.\nDie Firmware neu flashen?",
                         "ファームウェアの更新が中断されました。\nもう一度書き込みますか？",
                         "Обновление прошивки было прервано.\nПрошить снова?", "펌웨어 업데이트가 중단되었습니다.\n펌웨어를 다시 쓸까요?"});
}

QString flashLine(const QString &language, const QString &shown)
{
    if (shown == FirmwareFlash::kNoPadText)
        return in(language, {"No pad to update was found, so the firmware was not changed. Connect the pad and choose Retry.",
                             "未找到要更新的手柄，固件未更改。请连接手柄，然后点击“重试”。",
                             "找不到要更新的手把，韌體未變更。請連接手把，然後按「重試」。",
                             "Es wurde kein Pad zum Aktualisieren gefunden, die Firmware blieb unverändert. Schließen Sie "
                             "das Pad an und wählen Sie „Wiederholen“.",
                             "更新するパッドが見つからないため、ファームウェアは変更されていません。パッドを接続して「再試行」を選んでください。",
                             "Геймпад для обновления не найден, прошивка не изменена. Подключите геймпад и нажмите «Повторить».",
                             "업데이트할 패드를 찾지 못해 펌웨어를 바꾸지 않았습니다. 패드를 연결하고 '다시 시도'를 누르세요."});
    if (shown == FirmwareFlash::kUnreadableImageText)
        return in(language, {"The firmware image could not be read, so the pad was not changed.", "无法读取固件映像，手柄未更改。",
                             "無法讀取韌體映像，手把未變更。",
                             "Das Firmware-Abbild konnte nicht gelesen werden, das Pad blieb unverändert.",
                             "ファームウェアイメージを読み込めなかったため、パッドは変更されていません。",
                             "Не удалось прочитать образ прошивки, геймпад не изменён.",
                             "펌웨어 이미지를 읽지 못해 패드를 바꾸지 않았습니다."});
    if (shown == FirmwareFlash::kForeignImageText)
        return in(language, {"The firmware package is not meant for this pad, so the pad was not changed.",
                             "该固件包不适用于此手柄，手柄未更改。", "此韌體套件不適用於這個手把，手把未變更。",
                             "Das Firmware-Paket ist nicht für dieses Pad bestimmt, das Pad blieb unverändert.",
                             "このファームウェアパッケージはこのパッド用ではないため、パッドは変更されていません。",
                             "Этот пакет прошивки не предназначен для этого геймпада, геймпад не изменён.",
                             "이 펌웨어 패키지는 이 패드용이 아니어서 패드를 바꾸지 않았습니다."});
    if (shown == FirmwareFlash::kInvalidImageText)
        return in(language, {"The firmware file is not valid, so the pad was not changed.", "固件文件无效，手柄未更新。",
                             "韌體檔案無效，手把未更新。", "Die Firmware-Datei ist ungültig, das Pad blieb unverändert.",
                             "ファームウェアファイルが無効なため、パッドは変更されていません。",
                             "Файл прошивки недействителен, геймпад не изменён.",
                             "펌웨어 파일이 올바르지 않아 패드를 바꾸지 않았습니다."});
    return shown;
}

QString noService(const QString &language)
{
    return in(language,
              {"This copy of vexa has no update service to ask, so it cannot look for updates. Updates come with the "
               "package it was installed from.",
               "此 vexa 副本没有可询问的更新服务，因此无法检查更新。更新随安装它的软件包提供。",
               "此 vexa 副本沒有可詢問的更新服務，因此無法檢查更新。更新會隨安裝它的套件提供。",
               "Diese vexa-Kopie hat keinen Update-Dienst, den sie fragen kann, und sucht daher nicht nach Updates. "
               "Updates kommen mit dem Paket, aus dem sie installiert wurde.",
               "この vexa には問い合わせ先の更新サービスがないため、更新を確認できません。更新はインストール元のパッケージで提供されます。",
               "У этой копии vexa нет службы обновлений, поэтому она не может искать обновления. Обновления приходят с "
               "пакетом, из которого она установлена.",
               "이 vexa에는 물어볼 업데이트 서비스가 없어 업데이트를 확인할 수 없습니다. 업데이트는 설치에 사용한 패키지로 제공됩니다."});
}

QString serviceUnreachable(const QString &language)
{
    return in(language, {"The update service could not be reached: please check the network and try again.",
                         "无法连接更新服务：请检查网络后重试。", "無法連線更新服務：請檢查網路後再試一次。",
                         "Der Update-Dienst war nicht erreichbar: Bitte prüfen Sie die Netzwerkverbindung und versuchen "
                         "Sie es erneut.",
                         "更新サービスに接続できませんでした。ネットワークを確認して、もう一度お試しください。",
                         "Не удалось связаться со службой обновлений: проверьте подключение к сети и повторите попытку.",
                         "업데이트 서비스에 연결하지 못했습니다. 네트워크를 확인하고 다시 시도하세요."});
}

QString answerNotUnderstood(const QString &language)
{
    return joined(language,
                  in(language, {"The update service sent an answer this version of vexa does not understand.",
                                "更新服务发来的回复无法被此版本的 vexa 识别。", "更新服務傳回的回應無法被此版本的 vexa 辨識。",
                                "Der Update-Dienst hat eine Antwort gesendet, die diese Version von vexa nicht versteht.",
                                "更新サービスから、このバージョンの vexa では理解できない応答が届きました。",
                                "Служба обновлений прислала ответ, который эта версия vexa не понимает.",
                                "업데이트 서비스가 이 버전의 vexa가 이해할 수 없는 응답을 보냈습니다."}),
                  in(language, kTryLater));
}

QString pagesInstalled(const QString &language)
{
    return in(language, {"The pages the update service offers are already installed: the current version is the latest version",
                         "更新服务提供的页面已经安装：当前版本就是最新版本",
                         "更新服務提供的頁面已經安裝：目前版本就是最新版本",
                         "Die Seiten, die der Update-Dienst anbietet, sind bereits installiert: Die aktuelle Version ist die neueste",
                         "更新サービスが提供するページはすでにインストールされています。現在のバージョンが最新です",
                         "Страницы, которые предлагает служба обновлений, уже установлены: текущая версия — последняя",
                         "업데이트 서비스가 제공하는 페이지는 이미 설치되어 있습니다. 현재 버전이 최신 버전입니다"});
}

QString nothingToInstall(const QString &language)
{
    return in(language, {"The update service offered nothing this version of vexa can install.",
                         "更新服务没有提供此版本 vexa 可以安装的内容。", "更新服務沒有提供此版本 vexa 可以安裝的內容。",
                         "Der Update-Dienst hat nichts angeboten, was diese Version von vexa installieren kann.",
                         "更新サービスからは、このバージョンの vexa でインストールできるものが提供されませんでした。",
                         "Служба обновлений не предложила ничего, что эта версия vexa может установить.",
                         "업데이트 서비스가 이 버전의 vexa에서 설치할 수 있는 것을 제공하지 않았습니다."});
}

// Things the folder of vexa (or the disk) has to do with, a package that is not what it says, and
// the network or the server.
QString downloadFailed(const QString &language, const QString &kind, UpdateFailure why, const QString &applicationDir)
{
    QString text;
    switch (why) {
    case UpdateFailure::Network:
        text = in(language, {"the download failed. Please check the network.", "下载失败。请检查网络。", "下載失敗。請檢查網路。",
                             "Der Download ist fehlgeschlagen. Bitte prüfen Sie die Netzwerkverbindung.",
                             "ダウンロードに失敗しました。ネットワークを確認してください。",
                             "загрузка не удалась. Проверьте подключение к сети.",
                             "다운로드하지 못했습니다. 네트워크를 확인하세요."});
        break;
    case UpdateFailure::Server:
        text = joined(language,
                      in(language, {"the update server did not deliver it.", "更新服务器未能提供该安装包。",
                                    "更新伺服器未能提供該套件。", "Der Update-Server hat das Paket nicht geliefert.",
                                    "更新サーバーからパッケージを受け取れませんでした。", "сервер обновлений не передал пакет.",
                                    "업데이트 서버가 패키지를 보내지 않았습니다."}),
                      in(language, kTryLater));
        break;
    case UpdateFailure::Damaged:
        text = in(language, {"the package arrived damaged and was thrown away. Retry downloads it again.",
                             "安装包下载后已损坏，已被丢弃。点击“重试”重新下载。", "套件下載後已損壞，已被捨棄。按「重試」重新下載。",
                             "Das Paket kam beschädigt an und wurde verworfen. „Wiederholen“ lädt es erneut herunter.",
                             "パッケージが破損していたため破棄しました。「再試行」でもう一度ダウンロードします。",
                             "пакет пришёл повреждённым и был удалён. «Повторить» загрузит его заново.",
                             "패키지가 손상된 채로 도착해 삭제했습니다. '다시 시도'를 누르면 다시 다운로드합니다."});
        break;
    case UpdateFailure::Disk:
        text = in(language, {"the package could not be saved in %1. Please check that the disk has free space.",
                             "无法将安装包保存到 %1。请检查磁盘是否有可用空间。", "無法將套件儲存到 %1。請檢查磁碟是否有可用空間。",
                             "Das Paket konnte nicht in %1 gespeichert werden. Bitte prüfen Sie, ob auf dem Datenträger "
                             "Platz frei ist.",
                             "パッケージを %1 に保存できませんでした。ディスクの空き容量を確認してください。",
                             "не удалось сохранить пакет в %1. Проверьте, есть ли свободное место на диске.",
                             "패키지를 %1에 저장하지 못했습니다. 디스크에 여유 공간이 있는지 확인하세요."})
                   .arg(QDir::toNativeSeparators(UpdateFolders::root(applicationDir)));
        break;
    }
    return in(language, kStepLine).arg(kindName(language, kind), text);
}

QString noWebAddress(const QString &language, const QString &kind)
{
    return joined(language,
                  in(language, {"The update offer is not valid: it gives no web address for the package “%1”.",
                                "更新信息无效：未给出“%1”安装包的网址。", "更新資訊無效：未提供「%1」套件的網址。",
                                "Das Update-Angebot ist ungültig: Es nennt keine Webadresse für das Paket „%1“.",
                                "更新の案内が正しくありません。パッケージ「%1」の Web アドレスがありません。",
                                "Предложение обновления недействительно: для пакета «%1» не указан веб-адрес.",
                                "업데이트 제안이 올바르지 않습니다. 패키지 '%1'의 웹 주소가 없습니다."})
                      .arg(kindName(language, kind)),
                  in(language, kTryLater));
}

QString offerWithoutPackage(const QString &language)
{
    return joined(language,
                  in(language, {"The update offer names no package to download.", "更新信息中没有可下载的安装包。",
                                "更新資訊中沒有可下載的套件。", "Das Update-Angebot nennt kein Paket zum Herunterladen.",
                                "更新の案内にダウンロードするパッケージがありません。",
                                "В предложении обновления нет пакета для загрузки.", "업데이트 제안에 다운로드할 패키지가 없습니다."}),
                  in(language, kTryLater));
}

QString clientManagedBySystem(const QString &language)
{
    return joined(language,
                  in(language, {"This installation is managed by the system's package manager: please update vexa with it.",
                                "此安装由系统的软件包管理器管理：请用它更新 vexa。", "此安裝由系統的套件管理程式管理：請用它更新 vexa。",
                                "Diese Installation wird von der Paketverwaltung des Systems verwaltet: Bitte aktualisieren "
                                "Sie vexa damit.",
                                "このインストールはシステムのパッケージマネージャーが管理しています。vexa の更新にはそちらを使ってください。",
                                "Эта установка управляется менеджером пакетов системы: обновите vexa с его помощью.",
                                "이 설치는 시스템의 패키지 관리자가 관리합니다. vexa는 패키지 관리자로 업데이트하세요."}),
                  in(language, kKeepsRunning));
}

QString clientNotInstallable(const QString &language, const QString &why)
{
    return joined(language,
                  in(language, {"The new version of vexa cannot be installed: %1.", "无法安装 vexa 的新版本：%1。",
                                "無法安裝 vexa 的新版本：%1。", "Die neue Version von vexa kann nicht installiert werden: %1.",
                                "vexa の新しいバージョンをインストールできません：%1。",
                                "Новую версию vexa установить нельзя: %1.", "vexa 새 버전을 설치할 수 없습니다: %1."})
                      .arg(why),
                  in(language, kKeepsRunning));
}

QString installerWriteProtected(const QString &language, const QString &installerPath)
{
    return joined(language,
                  in(language, {"The new version of vexa cannot be installed: %1 may not be changed.",
                                "无法安装 vexa 的新版本：不允许更改 %1。", "無法安裝 vexa 的新版本：不允許變更 %1。",
                                "Die neue Version von vexa kann nicht installiert werden: %1 darf nicht geändert werden.",
                                "vexa の新しいバージョンをインストールできません：%1 は変更できません。",
                                "Новую версию vexa установить нельзя: файл %1 нельзя изменять.",
                                "vexa 새 버전을 설치할 수 없습니다: %1 파일을 변경할 수 없습니다."})
                      .arg(QDir::toNativeSeparators(installerPath)),
                  in(language, kKeepsRunning));
}

QString clientNotPrepared(const QString &language, const QString &applicationDir)
{
    return in(language, {"The new version of vexa could not be prepared for installation in %1. Retry downloads it again.",
                         "无法在 %1 中准备安装 vexa 的新版本。点击“重试”重新下载。",
                         "無法在 %1 中準備安裝 vexa 的新版本。按「重試」重新下載。",
                         "Die neue Version von vexa konnte in %1 nicht für die Installation vorbereitet werden. "
                         "„Wiederholen“ lädt sie erneut herunter.",
                         "vexa の新しいバージョンを %1 でインストール用に準備できませんでした。「再試行」でもう一度ダウンロードします。",
                         "Не удалось подготовить новую версию vexa к установке в %1. «Повторить» загрузит её заново.",
                         "%1에서 vexa 새 버전의 설치를 준비하지 못했습니다. '다시 시도'를 누르면 다시 다운로드합니다."})
        .arg(QDir::toNativeSeparators(applicationDir));
}

QString clientReady(const QString &language)
{
    return in(language, {"The new version of vexa is ready to be installed.", "vexa 的新版本已可安装。", "vexa 的新版本已可安裝。",
                         "Die neue Version von vexa ist bereit zur Installation.",
                         "vexa の新しいバージョンをインストールする準備ができました。", "Новая версия vexa готова к установке.",
                         "vexa 새 버전을 설치할 준비가 되었습니다."});
}

QString pageNotInstalled(const QString &language, const QString &failedFile)
{
    if (failedFile.isEmpty())
        return in(language, {"The new pages were not installed. Retry finishes the installation.",
                             "新页面未安装。点击“重试”完成安装。", "新頁面未安裝。按「重試」完成安裝。",
                             "Die neuen Seiten wurden nicht installiert. „Wiederholen“ schließt die Installation ab.",
                             "新しいページはインストールされませんでした。「再試行」でインストールを完了します。",
                             "Новые страницы не установлены. «Повторить» завершит установку.",
                             "새 페이지를 설치하지 못했습니다. '다시 시도'를 누르면 설치를 마칩니다."});
    return in(language, {"The new pages were not installed: %1 is not accessible. Retry finishes the installation.",
                         "新页面未安装：无法访问 %1。点击“重试”完成安装。", "新頁面未安裝：無法存取 %1。按「重試」完成安裝。",
                         "Die neuen Seiten wurden nicht installiert: Auf %1 kann nicht zugegriffen werden. „Wiederholen“ "
                         "schließt die Installation ab.",
                         "新しいページはインストールされませんでした：%1 にアクセスできません。「再試行」でインストールを完了します。",
                         "Новые страницы не установлены: нет доступа к %1. «Повторить» завершит установку.",
                         "새 페이지를 설치하지 못했습니다. %1에 접근할 수 없습니다. '다시 시도'를 누르면 설치를 마칩니다."})
        .arg(QDir::toNativeSeparators(failedFile));
}

QString pageFileStuck(const QString &file)
{
    return QStringLiteral("Failed to update vexa :(\n%1 is not accessible.").arg(QDir::toNativeSeparators(file));
}

QString firmwareHeldBack(const QString &language)
{
    return in(language, {"The new firmware was not written to the pad, because the new pages it needs are not installed.",
                         "新固件未写入手柄，因为它所需的新页面尚未安装。", "新韌體未寫入手把，因為它所需的新頁面尚未安裝。",
                         "Die neue Firmware wurde nicht auf das Pad geschrieben, weil die neuen Seiten, die sie braucht, "
                         "nicht installiert sind.",
                         "必要な新しいページがインストールされていないため、新しいファームウェアはパッドに書き込まれませんでした。",
                         "Новая прошивка не записана в геймпад: нужные ей новые страницы не установлены.",
                         "필요한 새 페이지가 설치되지 않아 새 펌웨어를 패드에 쓰지 않았습니다."});
}

QString noPadLibrary(const QString &language)
{
    return in(language, {"The new firmware cannot be written: the pad's library is not loaded.",
                         "无法写入新固件：手柄的驱动库未加载。", "無法寫入新韌體：手把的函式庫未載入。",
                         "Die neue Firmware kann nicht geschrieben werden: Die Bibliothek des Pads ist nicht geladen.",
                         "新しいファームウェアを書き込めません：パッドのライブラリが読み込まれていません。",
                         "Новую прошивку записать нельзя: библиотека геймпада не загружена.",
                         "새 펌웨어를 쓸 수 없습니다. 패드 라이브러리가 로드되지 않았습니다."});
}

QString loaderMissing(const QString &language, const QString &flashOutcome)
{
    return flashOutcome + QLatin1Char('\n')
           + in(language, {"The pad did not start its update mode. Reconnect it and choose Retry.",
                           "手柄未进入更新模式。请重新连接手柄，然后点击“重试”。", "手把未進入更新模式。請重新連接手把，然後按「重試」。",
                           "Das Pad hat seinen Update-Modus nicht gestartet. Schließen Sie es neu an und wählen Sie "
                           "„Wiederholen“.",
                           "パッドが更新モードになりませんでした。接続し直してから「再試行」を選んでください。",
                           "Геймпад не перешёл в режим обновления. Переподключите его и нажмите «Повторить».",
                           "패드가 업데이트 모드로 바뀌지 않았습니다. 다시 연결한 뒤 '다시 시도'를 누르세요."});
}

QString firmwareNotAccepted(const QString &language, const QString &flashOutcome)
{
    return flashOutcome + QLatin1Char('\n')
           + in(language, {"The pad did not accept the new firmware. Keep it connected and choose Retry to write it again.",
                           "手柄未接受新固件。请保持连接，点击“重试”重新写入。", "手把未接受新韌體。請保持連接，按「重試」重新寫入。",
                           "Das Pad hat die neue Firmware nicht angenommen. Lassen Sie es angeschlossen und wählen Sie "
                           "„Wiederholen“, um sie erneut zu schreiben.",
                           "パッドが新しいファームウェアを受け付けませんでした。接続したまま「再試行」を選ぶと、もう一度書き込みます。",
                           "Геймпад не принял новую прошивку. Не отключайте его и нажмите «Повторить», чтобы записать её снова.",
                           "패드가 새 펌웨어를 받아들이지 않았습니다. 연결한 채로 '다시 시도'를 누르면 다시 씁니다."});
}

} // namespace UpdateTexts
