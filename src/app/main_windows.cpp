// The Windows program. Its tray front end is not built yet, so it runs the
// watch engine headless, as `tavren3 --headless` does on Linux.

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/headless.h"
#include "app/version.h"
#include "platform/path_text.h"
#include "platform/win32/console.h"
#include "store/data_folder.h"

namespace {

constexpr const char* kUsage =
    "使い方: tavren3 --headless [--data-dir DIR]\n"
    "\n"
    "  --headless      画面を使わずに監視だけを行います。メッセージは\n"
    "                  \"Tavren3: <メッセージ>\" の 1 行として標準出力に出ます。\n"
    "                  Ctrl+C またはコンソールを閉じると終了、Ctrl+Break で\n"
    "                  設定を読み直します。\n"
    "  --data-dir DIR  データフォルダ (既定: %TAVREN3_DATA_DIR%、なければ\n"
    "                  %APPDATA%\\QUORVALE\\Tavren3)\n"
    "  --version       バージョンを表示します。\n"
    "  --help          この説明を表示します。\n";

}  // namespace

int main() {
    tavren::platform::win32::UseUtf8Console();
    const std::vector<std::string> args = tavren::platform::win32::CommandLineArguments();

    bool headless = false;
    std::optional<std::filesystem::path> dataDir;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (arg == "--help" || arg == "-h" || arg == "/?") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--version") {
            std::printf("%s\n", tavren::app::kVersionText);
            return 0;
        }
        if (arg == "--headless") {
            headless = true;
        } else if (arg == "--data-dir" && i + 1 < args.size()) {
            dataDir = tavren::platform::PathFromUtf8(args[++i]);
        } else if (arg.starts_with("--data-dir=")) {
            dataDir =
                tavren::platform::PathFromUtf8(arg.substr(std::string_view("--data-dir=").size()));
        } else {
            std::fprintf(stderr, "tavren3: 不明な引数です: %s\n\n%s", args[i].c_str(), kUsage);
            return 2;
        }
    }
    if (!headless) {
        std::fputs(
            "tavren3: この Windows 版には通知領域のアイコンがまだありません。"
            "監視するには --headless を付けて起動してください。\n",
            stderr);
        return 2;
    }

    std::string error;
    auto data = tavren::store::DataFolder::Resolve(dataDir, error);
    if (!data) {
        std::fprintf(stderr, "tavren3: %s\n", error.c_str());
        return 1;
    }
    if (auto s = data->Prepare(); !s) {
        std::fprintf(stderr, "tavren3: %s\n", s.message().c_str());
        return 1;
    }
    return tavren::app::RunHeadless(*data);
}
