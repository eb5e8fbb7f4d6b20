#include "engine/system_services.h"

#include "platform/change_watcher.h"
#include "platform/clock.h"
#include "platform/file_mover.h"
#include "platform/process.h"
#include "platform/sound.h"

namespace tavren::engine {

SystemServices::SystemServices()
    : clock_(platform::MakeSystemClock()),
      changes_(platform::MakeChangeWatcher()),
      launcher_(platform::MakeProcessLauncher()),
      mover_(platform::MakeFileMover()),
      sound_(platform::MakeSoundPlayer()) {}

SystemServices::~SystemServices() = default;

Services SystemServices::services(MessageSink& messages) const {
    return {*clock_, *changes_, *launcher_, *mover_, *sound_, messages};
}

}  // namespace tavren::engine
