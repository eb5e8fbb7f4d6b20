// The Windows program: the tray program, or with --headless the watch
// engine alone, as on Linux. It is a program of the GUI subsystem, so a
// start from the desktop opens no console window; the headless runner and
// the answers to --help and --version use the console it was started from.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <span>
#include <string>
#include <vector>

#include "app/command_args.h"
#include "app/headless.h"
#include "app/win32/console_output.h"
#include "app/win32/tray_app.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/console.h"

namespace {

constexpr const char* kUsage =
    "使い方: Tavren3 [--headless] [--data-dir DIR]\n"
    "\n"
    "  (引数なし)      通知領域にアイコンを置いて監視します。\n"
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
    using namespace tavren;
    const std::vector<std::string> words = platform::win32::CommandLineArguments();
    const app::CommandArgs args = app::ParseCommandArgs(
        std::span<const std::string>(words).subspan(std::min<std::size_t>(words.size(), 1)));

    if (args.headless || args.request != app::CommandArgs::Request::Run) {
        const app::win32::ParentConsoleOutput console;
        if (auto status = app::AnswerWithoutRunning(args, kUsage)) return *status;
        auto data = app::OpenDataFolder(args);
        if (!data) return 1;
        return app::RunHeadless(*data);
    }

    std::string failure;
    auto data = app::OpenDataFolder(args, &failure);
    if (!data) {
        ::MessageBoxW(nullptr, platform::win32::Widen(failure).c_str(), L"Tavren3",
                      MB_OK | MB_ICONWARNING);
        return 1;
    }
    return app::win32::RunTray(*data, app::win32::ProgramInstanceName());
}
