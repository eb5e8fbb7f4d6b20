#include "app/entry_table.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/output_line.h"

namespace tavren::app {
namespace {

// Columns line up by the width a terminal gives each character: two for
// the wide East Asian ones (kanji, kana, full-width forms), one otherwise.
std::size_t DisplayWidth(std::string_view s) {
    std::size_t width = 0;
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        std::size_t len = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
        char32_t cp = len == 1 ? b : len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
        for (std::size_t k = 1; k < len && i + k < s.size(); ++k) {
            cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        }
        i += len;
        const bool wide = (cp >= 0x1100 && cp <= 0x115F) ||
                          (cp >= 0x2E80 && cp <= 0xA4CF && cp != 0x303F) ||
                          (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) ||
                          (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFF60) ||
                          (cp >= 0xFFE0 && cp <= 0xFFE6) || cp >= 0x20000;
        width += wide ? 2 : 1;
    }
    return width;
}

std::string Actions(const store::WatchEntry& e, Lang L) {
    std::vector<std::string> parts;
    if (e.messageMode == store::message_mode::kRunNotice)
        parts.push_back(L("メッセージ", "message"));
    if (e.messageMode == store::message_mode::kAsIs)
        parts.push_back(L("メッセージ(そのまま)", "message as-is"));
    if (e.beeps()) parts.push_back(L("ビープ", "beep"));
    if (e.playsWave()) parts.push_back(L("WAV ", "wave ") + e.waveFile);
    if (e.openFile != 0) {
        parts.push_back(L("ファイルを開く", "open file"));
    } else if (!e.program.empty()) {
        parts.push_back(L("実行 ", "run ") + e.program +
                        (e.waitExit != 0 ? L(" (終了を待つ)", " (wait)") : ""));
    }
    if (e.movesFiles()) {
        parts.push_back(
            L("移動 ", "move to ") + e.moveTo +
            (e.overwrite != 0 ? L(" (上書き)", " (replace)") : L(" (別名)", " (rename)")));
    }
    std::string text;
    for (const std::string& p : parts) {
        if (!text.empty()) text += ", ";
        text += p;
    }
    return text.empty() ? "-" : text;
}

}  // namespace

void PrintList(const store::SettingsList& list, Lang L) {
    if (list.empty()) {
        std::printf("%s\n", L("(監視設定はありません)", "(no watch entries)").c_str());
        return;
    }
    std::vector<std::vector<std::string>> rows = {
        {L("番号", "No."), L("状態", "State"), L("タイトル", "Title"), L("フォルダ", "Folder"),
         L("対象", "Files"), L("タイミング", "On"), L("処理", "Actions")}};
    for (std::size_t i = 0; i < list.size(); ++i) {
        const store::WatchEntry e = list.entry(i);
        rows.push_back(
            {std::to_string(i + 1),
             list.running(i) ? L("実行中", "running") : L("停止中", "stopped"), e.title, e.folder,
             e.usesPattern() ? e.pattern : "*",
             e.reactsToNames() ? L("作成・名前変更・削除", "names") : L("更新", "updates"),
             Actions(e, L)});
    }
    std::vector<std::size_t> widths(rows.front().size(), 0);
    for (auto& row : rows) {
        for (std::size_t c = 0; c < row.size(); ++c) {
            row[c] = platform::OneLine(row[c]);
            widths[c] = std::max(widths[c], DisplayWidth(row[c]));
        }
    }
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t c = 0; c < row.size(); ++c) {
            line += row[c];
            if (c + 1 < row.size()) line += std::string(widths[c] - DisplayWidth(row[c]) + 2, ' ');
        }
        std::printf("%s\n", line.c_str());
    }
}

}  // namespace tavren::app
