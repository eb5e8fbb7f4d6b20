#include "app/headless.h"

#include <cstdio>

#include "platform/signals.h"
#include "store/settings_file.h"
#include "store/snapshot.h"

namespace tavren::app {
namespace {

void StartWatching(const store::DataFolder& data, store::WatchTable& table) {
    if (store::Status s = store::LoadWatchTable(data.settingsFile(), table); !s) {
        std::fprintf(stderr, "tavren3: %s\n", s.message().c_str());
    }
    for (int n = 0; n < table.count(); ++n) {
        if (store::Status s = store::WriteSnapshot(data, n, table.entries[n]); !s) {
            std::fprintf(stderr, "tavren3: %s\n", s.message().c_str());
        }
    }
    std::fprintf(stderr, "tavren3: watching %d entr%s (data folder %s)\n", table.count(),
                 table.count() == 1 ? "y" : "ies", data.root().c_str());
}

}  // namespace

int RunHeadless(const store::DataFolder& data) {
    platform::ControlSignals signals;  // before any thread starts
    store::WatchTable table;
    StartWatching(data, table);
    for (;;) {
        switch (signals.Wait()) {
            case platform::ControlSignal::Interrupt:
            case platform::ControlSignal::Terminate:
                return 0;
            case platform::ControlSignal::Reload:
                StartWatching(data, table);
                break;
        }
    }
}

}  // namespace tavren::app
