#include "app/usage.h"

#include "platform/env.h"

namespace tavren::app {

bool JapaneseLocale() {
    return platform::UserLanguageIsJapanese();
}

std::string UsageText(std::string_view program, bool trayProgram) {
    return UsageText(program, trayProgram, JapaneseLocale());
}

namespace {

// The entry options of add and change, in both languages.
constexpr const char* kEntryOptionsJa =
    "  --title TEXT          タイトル (CP932 で 56 バイトまで)\n"
    "  --folder DIR          監視するフォルダ (126 バイトまで)\n"
    "  --all-files           すべてのファイルが対象\n"
    "  --pattern PATTERN     PATTERN (*.csv、abc*.*、*.csv;*.txt など) に合う\n"
    "                        ファイルが対象\n"
    "  --on names|updates    作成・名前の変更・削除で、または更新で実行\n"
    "  --message, --no-message\n"
    "                        メッセージを表示する / しない\n"
    "  --sound none|beep|wave\n"
    "                        通知音: なし / ビープ音 / WAV ファイル\n"
    "  --wave-file FILE      WAV ファイル\n"
    "  --program LINE        実行するプログラム (引数付き可、空で取り消し)。\n"
    "                        {file} {name} {folder} はファイルのパス・名前・\n"
    "                        フォルダに置き換わる: /usr/bin/lp -d office {file}\n"
    "  --open-file, --no-open-file\n"
    "                        プログラムの代わりに対象ファイルを開く / 開かない\n"
    "  --wait, --no-wait     プログラムの終了を待つ / 待たない\n"
    "  --move-to DIR         処理したファイルを DIR へ移動する\n"
    "  --delete              処理したファイルを削除する\n"
    "  --no-move             移動も削除もしない\n"
    "  --replace, --rename   移動先の同名ファイルを上書きする / 日時付きの名前にする\n"
    "  --create-folders      ないフォルダを作るかの問いに「はい」と答える\n"
    "                        (ないと、端末では問い、それ以外では「いいえ」)\n";

constexpr const char* kEntryOptionsEn =
    "  --title TEXT          the title (at most 56 bytes in CP932)\n"
    "  --folder DIR          the folder to watch (at most 126 bytes)\n"
    "  --all-files           every file counts\n"
    "  --pattern PATTERN     the files matching PATTERN (*.csv, abc*.*, or\n"
    "                        several: *.csv;*.txt) count\n"
    "  --on names|updates    react to files created, renamed or deleted, or to\n"
    "                        files updated\n"
    "  --message, --no-message\n"
    "                        show a message, or not\n"
    "  --sound none|beep|wave\n"
    "                        no sound, the beep, or the WAV file\n"
    "  --wave-file FILE      the WAV file\n"
    "  --program LINE        the program to start (with arguments; empty: none);\n"
    "                        {file}, {name} and {folder} stand for the file's path,\n"
    "                        its name and the folder: /usr/bin/lp -d office {file}\n"
    "  --open-file, --no-open-file\n"
    "                        open the file itself instead of the program, or not\n"
    "  --wait, --no-wait     wait until the program ends, or not\n"
    "  --move-to DIR         move each file acted on to DIR\n"
    "  --delete              delete each file acted on\n"
    "  --no-move             leave the files where they are\n"
    "  --replace, --rename   a moved file replaces one of the same name, or gets a\n"
    "                        time-stamped name\n"
    "  --create-folders      answer yes when asked to create a missing folder\n"
    "                        (without it: asked at a terminal, else no)\n";

}  // namespace

std::string UsageText(std::string_view program, bool trayProgram, bool japanese) {
    const std::string p(program);
    std::string text;
    if (japanese) {
        text = "使い方: " + p + " [--headless] [--data-dir DIR]\n       " + p +
               " [--data-dir DIR] COMMAND [OPTION...]\n\n";
        if (trayProgram) {
            text += "  (なし)          通知領域のアイコンとして起動します。\n";
            text += "  --headless      画面を使わずに監視だけを行います。メッセージは\n";
        } else {
            text += "  (なし)          画面を使わずに監視だけを行います。メッセージは\n";
        }
        text += "                  \"Tavren3: <メッセージ>\" の 1 行として標準出力に出ます。\n";
#ifdef _WIN32
        text +=
            "                  Ctrl+C またはコンソールを閉じると終了、Ctrl+Break で\n"
            "                  設定を読み直します。\n"
            "  --data-dir DIR  データフォルダ (既定: %TAVREN3_DATA_DIR%、なければ\n"
            "                  %APPDATA%\\QUORVALE\\Tavren3)\n";
#else
        text +=
            "                  SIGINT/SIGTERM で終了、SIGHUP で設定を読み直します。\n"
            "  --data-dir DIR  データフォルダ (既定: $TAVREN3_DATA_DIR、なければ\n"
            "                  $XDG_DATA_HOME/QUORVALE/Tavren3)\n";
#endif
        text +=
            "  --version       バージョンを表示します。\n"
            "  --help          この説明を表示します。\n\n"
            "監視設定のコマンド (それぞれ --help で詳しく):\n"
            "  list            監視設定の一覧\n"
            "  add OPTION...   監視設定を登録します\n"
            "  change N OPTION...\n"
            "                  N 番の監視設定を変更します (実行中になります)\n"
            "  remove N        N 番の監視設定を削除します\n"
            "  run N, stop N   N 番を実行中 / 停止中にします\n"
            "  export [FILE]   すべての監視設定をテキストで書き出します\n"
            "  import FILE     テキストから監視設定を読み込み、すべて置き換えます\n"
            "  log             活動ログ (tavren3.log) を表示します\n"
            "変更すると、同じデータフォルダで実行中の Tavren3 に読み直しを伝えます。\n";
        return text;
    }
    text = "Usage: " + p + " [--headless] [--data-dir DIR]\n       " + p +
           " [--data-dir DIR] COMMAND [OPTION...]\n\n";
    if (trayProgram) {
        text += "  (none)          start as an icon in the notification area.\n";
        text += "  --headless      watch without a display. Each message becomes\n";
    } else {
        text += "  (none)          watch without a display. Each message becomes\n";
    }
    text += "                  one line \"Tavren3: <message>\" on standard output.\n";
#ifdef _WIN32
    text +=
        "                  Ctrl+C or closing the console ends it, Ctrl+Break\n"
        "                  reloads the settings.\n"
        "  --data-dir DIR  the data folder (default: %TAVREN3_DATA_DIR%, else\n"
        "                  %APPDATA%\\QUORVALE\\Tavren3)\n";
#else
    text +=
        "                  SIGINT/SIGTERM end it, SIGHUP reloads the settings.\n"
        "  --data-dir DIR  the data folder (default: $TAVREN3_DATA_DIR, else\n"
        "                  $XDG_DATA_HOME/QUORVALE/Tavren3)\n";
#endif
    text +=
        "  --version       print the version.\n"
        "  --help          print this help.\n\n"
        "Commands for the watch entries (each has its own --help):\n"
        "  list            list the entries\n"
        "  add OPTION...   add an entry\n"
        "  change N OPTION...\n"
        "                  change entry N (it then runs)\n"
        "  remove N        remove entry N\n"
        "  run N, stop N   switch entry N to running or stopped\n"
        "  export [FILE]   write every entry as text\n"
        "  import FILE     replace every entry with those of a text\n"
        "  log             print the activity log (tavren3.log)\n"
        "After a change, a Tavren3 running on the same data folder is told to reload.\n";
    return text;
}

std::string SubcommandUsage(std::string_view program, std::string_view command, bool japanese) {
    const std::string head = (japanese ? "使い方: " : "Usage: ") + std::string(program) +
                             " [--data-dir DIR] " + std::string(command);
    const std::string dataDir = japanese ? "  --data-dir DIR        データフォルダ\n"
                                         : "  --data-dir DIR        the data folder\n";
    if (command == "list") {
        return head +
               (japanese ? "\n\n監視設定を表にします: "
                           "番号、状態、タイトル、フォルダ、対象、\nタイミング、処理。番号は "
                           "change などで使います。\n"
                         : "\n\nLists the entries: number, state, title, folder, files, when, "
                           "and\nactions. The number is what change and the others take.\n") +
               dataDir;
    }
    if (command == "add" || command == "change") {
        const bool add = command == "add";
        std::string text = head + (add ? " OPTION...\n\n" : " N [OPTION...]\n\n");
        if (japanese) {
            text += add ? "監視設定を登録します。新規登録と同じ既定値 "
                          "(すべてのファイル、作成・名前の変更・\n"
                          "削除で実行、処理なし) から始め、入力欄と同じ順で確かめます。\n"
                        : "N "
                          "番の監視設定を、指定した項目だけ変えます。変更登録と同じく実行中になりま"
                          "す。\n";
            text +=
                "ダイアログと同じメッセージを標準エラーに出し、問題があれば何も変えずに終わります。"
                "\n\n";
            text += kEntryOptionsJa;
        } else {
            text +=
                add ? "Adds an entry. It starts from a new entry's defaults (every file, reacting\n"
                      "to names, no actions) and is checked as the editor checks it.\n"
                    : "Changes the given fields of entry N; as in the editor, the entry then "
                      "runs.\n";
            text += "The editor's messages go to standard error; on a refusal nothing changes.\n\n";
            text += kEntryOptionsEn;
        }
        return text + dataDir;
    }
    if (command == "remove" || command == "run" || command == "stop") {
        const char* what = japanese ? (command == "remove" ? "N 番の監視設定を削除します。"
                                       : command == "run" ? "N 番の監視設定を実行中にします。"
                                                          : "N 番の監視設定を停止中にします。")
                                    : (command == "remove" ? "Removes entry N."
                                       : command == "run"  ? "Switches entry N to running."
                                                           : "Switches entry N to stopped.");
        return head + " N\n\n" + what + "\n" + dataDir;
    }
    if (command == "export") {
        return head +
               (japanese ? " [FILE]\n\nすべての監視設定を UTF-8 のテキストで FILE (なし、または - "
                           "で標準出力) に\n"
                           "書き出します。[entry] ごとに 1 件、項目は「キー = 値」の行です。\n"
                         : " [FILE]\n\nWrites every entry as UTF-8 text to FILE (none or -: "
                           "standard output):\n"
                           "one [entry] block per entry, each field a \"key = value\" line.\n") +
               dataDir;
    }
    if (command == "import") {
        return head +
               (japanese
                    ? " FILE\n\nexport の形のテキスト (- で標準入力) "
                      "の監視設定で、すべてを置き換えます。\n"
                      "書き込む前にすべての記録を登録時と同じく確かめ、一つでも問題があれば、\n"
                      "その記録と項目を示して何も変えずに終わります。\n"
                      "  --create-folders      ないフォルダを作るかの問いに「はい」と答える\n"
                    : " FILE\n\nReplaces every entry with those of a text in the export form (-: "
                      "standard\n"
                      "input). Every record is checked as add checks it before anything is\n"
                      "written; on a fault, the record and field are named and nothing changes.\n"
                      "  --create-folders      answer yes when asked to create a missing "
                      "folder\n") +
               dataDir;
    }
    if (command == "log") {
        return head +
               (japanese
                    ? " [OPTION...]\n\n"
                      "データフォルダの活動ログ tavren3.log を、ローテートした古いもの\n"
                      "(tavren3.log.5 〜 .1) から順に表示します。1 行が 1 件で、タブ区切りの\n"
                      "時刻、番号、タイトル、出来事、ファイル、結果です。\n"
                      "  --follow              新しい行を表示し続ける (Ctrl+C で終了)\n"
                      "  --entry N             N 番の監視設定の行だけ\n"
                      "  --since TIME          TIME (YYYY-MM-DD か YYYY-MM-DDThh:mm[:ss]、\n"
                      "                        現地時刻) 以降の行だけ\n"
                      "  --file NAME           ファイル NAME (ワイルドカード可) の行だけ\n"
                    : " [OPTION...]\n\n"
                      "Prints the data folder's activity log, tavren3.log, the rotated ones\n"
                      "(tavren3.log.5 to .1) first. One line per event, tab-separated: time,\n"
                      "entry number, title, event, file and result.\n"
                      "  --follow              keep printing new lines (Ctrl+C ends it)\n"
                      "  --entry N             only entry N's lines\n"
                      "  --since TIME          only lines from TIME on (YYYY-MM-DD or\n"
                      "                        YYYY-MM-DDThh:mm[:ss], local time)\n"
                      "  --file NAME           only lines of file NAME (wildcards allowed)\n") +
               dataDir;
    }
    return {};
}

}  // namespace tavren::app
