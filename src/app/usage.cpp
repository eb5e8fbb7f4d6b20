#include "app/usage.h"

namespace tavren::app {

std::string UsageText(std::string_view program, bool trayProgram) {
    std::string text = "使い方: ";
    text += program;
    text += " [--headless] [--data-dir DIR]\n\n";
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
        "  --help          この説明を表示します。\n";
    return text;
}

}  // namespace tavren::app
