#include "store/data_folder.h"

#include "platform/env.h"
#include "platform/fs.h"
#include "platform/path_text.h"
#include "store/message_language.h"

namespace tavren::store {

std::optional<DataFolder> DataFolder::Resolve(const std::optional<std::filesystem::path>& override,
                                              std::string& error) {
    std::filesystem::path root;
    if (override && !override->empty()) {
        root = *override;
    } else if (auto env = platform::GetEnv("TAVREN3_DATA_DIR")) {
        root = platform::PathFromUtf8(*env);
    } else if (auto home = platform::UserDataHome()) {
        root = *home / "QUORVALE" / "Tavren3";
    } else {
        error =
            Say("データフォルダを決められません (HOME も XDG_DATA_HOME も設定されていません)。",
                "cannot tell where the data folder is (neither HOME nor XDG_DATA_HOME is set).");
        return std::nullopt;
    }
    std::error_code ec;
    if (auto absolute = std::filesystem::absolute(root, ec); !ec) root = absolute;
    return DataFolder(root.lexically_normal());
}

Status DataFolder::Prepare() const {
    if (auto ec = platform::CreateFolders(tavdat())) {
        return Status::Error(Say("データフォルダ ", "cannot create the data folder ") +
                             platform::PathToUtf8(tavdat()) + Say(" を作成できません: ", ": ") +
                             ec.message());
    }
    // A write cut short by a crash leaves its temporary file behind: the
    // settings and snapshots in tavdat, the session, pending and
    // settings-open files beside it (where a --data-dir shared with other
    // programs keeps their files).
    platform::RemoveStaleTemporaryFiles(tavdat(), 10 * 60);
    platform::RemoveStaleTemporaryFiles(root_, 10 * 60, ".tavren3.");
    return {};
}

}  // namespace tavren::store
