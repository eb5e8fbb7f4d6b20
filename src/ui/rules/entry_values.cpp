#include "ui/rules/entry_values.h"

#include <cstdint>

namespace tavren::rules {
namespace {

std::int16_t Narrow(int value) {
    return static_cast<std::int16_t>(value);
}

}  // namespace

EntryValues ValuesOf(const store::WatchEntry& e) {
    EntryValues v;
    v.title = e.title;
    v.folder = e.folder;
    v.program = e.program;
    v.openFile = e.openFile != 0 ? 1 : 0;
    v.waitExit = e.waitExit != 0 ? 1 : 0;
    v.fileMode = e.fileMode;
    v.timing = e.timing;
    v.afterMode = e.afterMode;
    v.messageMode = e.messageMode;
    v.soundMode = e.soundMode;
    v.overwrite = e.overwrite;
    v.pattern = e.pattern;
    v.moveTo = e.moveTo;
    v.waveFile = e.waveFile;
    return v;
}

store::WatchEntry EntryOf(const EntryValues& v) {
    store::WatchEntry e;
    e.fileMode = Narrow(v.fileMode);
    e.timing = Narrow(v.timing);
    e.messageMode = Narrow(v.messageMode);
    e.soundMode = Narrow(v.soundMode);
    e.afterMode = Narrow(v.afterMode);
    e.openFile = v.openFile != 0 ? 1 : 0;
    e.waitExit = v.waitExit != 0 ? 1 : 0;
    e.overwrite = Narrow(v.overwrite);
    e.title = v.title;
    e.folder = v.folder;
    e.pattern = v.pattern;
    e.program = v.program;
    e.moveTo = v.moveTo;
    e.waveFile = v.waveFile;
    return e;
}

}  // namespace tavren::rules
