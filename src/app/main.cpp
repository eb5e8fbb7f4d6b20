#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "app/headless.h"
#include "app/tray_app.h"
#include "app/version.h"
#include "store/data_folder.h"

namespace {

constexpr const char* kUsage =
    "使い方: tavren3 [--headless] [--data-dir DIR]\n"
    "\n"
    "  (なし)          通知領域のアイコンとして起動します。\n"
    "  --headless      画面を使わずに監視だけを行います。メッセージは\n"
    "                  \"Tavren3: <メッセージ>\" の 1 行として標準出力に出ます。\n"
    "                  SIGINT/SIGTERM で終了、SIGHUP で設定を読み直します。\n"
    "  --data-dir DIR  データフォルダ (既定: $TAVREN3_DATA_DIR、なければ\n"
    "                  $XDG_DATA_HOME/QUORVALE/Tavren3)\n"
    "  --version       バージョンを表示します。\n"
    "  --help          この説明を表示します。\n";

struct Options {
    bool headless = false;
    std::optional<std::string> dataDir;
};

}  // namespace

int main(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--version") {
            std::printf("%s\n", tavren::app::kVersionText);
            return 0;
        }
        if (arg == "--headless") {
            options.headless = true;
        } else if (arg == "--data-dir" && i + 1 < argc) {
            options.dataDir = argv[++i];
        } else if (arg.starts_with("--data-dir=")) {
            options.dataDir = std::string(arg.substr(std::strlen("--data-dir=")));
        } else {
            std::fprintf(stderr, "tavren3: 不明な引数です: %s\n\n%s", argv[i], kUsage);
            return 2;
        }
    }

    if (!options.headless && !tavren::app::HasDisplay()) {
        std::fputs("tavren3: 画面 (DISPLAY または WAYLAND_DISPLAY) がありません。"
                   "画面なしで監視するには --headless を付けて起動してください。\n",
                   stderr);
        return 2;
    }

    std::string error;
    auto data = tavren::store::DataFolder::Resolve(options.dataDir, error);
    if (!data) {
        std::fprintf(stderr, "tavren3: %s\n", error.c_str());
        return 1;
    }
    if (auto s = data->Prepare(); !s) {
        std::fprintf(stderr, "tavren3: %s\n", s.message().c_str());
        return 1;
    }
    if (options.headless) return tavren::app::RunHeadless(*data);
    // Qt keeps references to argc and argv for the program's lifetime.
    return tavren::app::RunTray(argc, argv, *data);
}
