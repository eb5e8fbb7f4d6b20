#pragma once

// Helpers of the Windows-only tests.

#include <windows.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string_view>
#include <thread>

#include "platform/path_text.h"

namespace tavren::test {

// A path from UTF-8 text; see platform/path_text.h for why not path(string).
inline std::filesystem::path U8(std::string_view utf8) {
    return platform::PathFromUtf8(utf8);
}

// Polls `done` until it holds or `limit` has passed; true when it held.
inline bool WaitUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// The folder of the running test program, where the helper programs are.
inline std::filesystem::path ProgramFolder() {
    wchar_t self[MAX_PATH];
    const DWORD n = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    return std::filesystem::path(std::wstring(self, n)).parent_path();
}

// Wine keeps a deleted folder, and lets files be made in it, until the last
// handle on it closes, and a change handle on it is not signalled: a watched
// folder cannot be seen to go there. Windows signals the handle. Tries it
// with `scratch`, which must not exist.
inline bool DeletedFolderStaysWhileWatched(const std::filesystem::path& scratch) {
    std::filesystem::create_directory(scratch);
    const HANDLE watch =
        ::FindFirstChangeNotificationW(scratch.c_str(), FALSE, FILE_NOTIFY_CHANGE_FILE_NAME);
    ::RemoveDirectoryW(scratch.c_str());
    const bool stays = ::GetFileAttributesW(scratch.c_str()) != INVALID_FILE_ATTRIBUTES;
    if (watch != INVALID_HANDLE_VALUE) ::FindCloseChangeNotification(watch);
    return stays;
}
inline constexpr const char* kDeletedFolderStays =
    "this system keeps a deleted folder until every handle on it is closed and does not "
    "signal a change handle on it (Wine does so; Windows signals it)";

}  // namespace tavren::test
