// The Windows program. Its tray front end is not built yet, so it runs the
// watch engine headless, as `tavren3 --headless` does on Linux.

#include <algorithm>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "app/command_args.h"
#include "app/headless.h"
#include "platform/win32/console.h"

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
    const std::vector<std::string> words = tavren::platform::win32::CommandLineArguments();
    const tavren::app::CommandArgs args = tavren::app::ParseCommandArgs(
        std::span<const std::string>(words).subspan(std::min<std::size_t>(words.size(), 1)));
    if (auto status = tavren::app::AnswerWithoutRunning(args, kUsage)) return *status;

    if (!args.headless) {
        std::fputs(
            "tavren3: この Windows 版には通知領域のアイコンがまだありません。"
            "監視するには --headless を付けて起動してください。\n",
            stderr);
        return 2;
    }
    auto data = tavren::app::OpenDataFolder(args);
    if (!data) return 1;
    return tavren::app::RunHeadless(*data);
}
