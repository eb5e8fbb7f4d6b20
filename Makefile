# The two commands a new user needs are `make run` and `make test`; both
# install missing Debian packages first.
BUILD_DIR ?= build
CHECK_DIR ?= build-check
TSAN_DIR  ?= build-tsan
BENCH_DIR ?= build-bench
DEB_DIR   ?= build-deb
CMAKE_FLAGS ?=
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
RUN_ARGS ?=

.PHONY: all deps build test check tsan ci run deb bench faults fuzz soak windows test-windows screenshots screenshots-windows format clean

all: build

deps:
	@scripts/install-deps.sh

build: deps
	@cmake -S . -B $(BUILD_DIR) -G Ninja $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	@cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS) --timeout 300

# Every test again under AddressSanitizer and UndefinedBehaviorSanitizer.
check: deps
	@cmake -S . -B $(CHECK_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug \
	    -DTAVREN_SANITIZE='address;undefined' -DTAVREN_BUILD_BENCH=OFF >/dev/null
	@cmake --build $(CHECK_DIR) -j $(JOBS)
	@cd $(CHECK_DIR) && LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp \
	    ctest --output-on-failure -j $(JOBS) --timeout 600

# The engine's threaded tests (unit and integration) under ThreadSanitizer.
tsan: deps
	@cmake -S . -B $(TSAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug \
	    -DTAVREN_SANITIZE=thread -DTAVREN_BUILD_BENCH=OFF >/dev/null
	@cmake --build $(TSAN_DIR) -j $(JOBS) --target unit_tests integration_tests
	@cd $(TSAN_DIR) && ctest --output-on-failure -j $(JOBS) --timeout 600 -L 'unit|integration'

# What continuous integration runs (.ci/run): the suite, again under the
# sanitizers, and the Windows build's tests under Wine.
ci: test check tsan test-windows

# The tray program on a desktop; without a display, the headless watcher.
run: build
	@if [ -n "$(RUN_ARGS)" ]; then exec $(BUILD_DIR)/tavren3 $(RUN_ARGS); \
	elif [ -n "$$DISPLAY$$WAYLAND_DISPLAY" ]; then exec $(BUILD_DIR)/tavren3; \
	else echo "make run: no display; starting the headless watcher (Ctrl+C ends it)"; \
	     exec $(BUILD_DIR)/tavren3 --headless; fi

# The Debian packages tavren3 and tavren3-headless, made by cpack into
# $(DEB_DIR) from a build of their own, apart from the test build: optimised
# and hardened as Debian builds its own (-O2 -g, see CMakeLists.txt), and
# stripped when packed.
deb: deps
	@cmake -S . -B $(DEB_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DTAVREN_BUILD_TESTS=OFF -DTAVREN_BUILD_BENCH=OFF $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(DEB_DIR) -j $(JOBS)
	@cd $(DEB_DIR) && cpack -G DEB

# Benchmarks want an optimised build of their own, apart from the test build.
bench: deps
	@cmake -S . -B $(BENCH_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release \
	    -DTAVREN_BUILD_TESTS=OFF $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BENCH_DIR) -j $(JOBS)
	@for b in $(BENCH_DIR)/bench/bench_*; do echo "== $$b"; $$b || exit 1; done
	@echo "== bench/bench_reference.sh"; JOBS=$(JOBS) bench/bench_reference.sh $(BENCH_DIR)

# Every call of the paths that write or move data failed in turn, with
# every fault, and the real program under strace's fault injection; prints
# the table of paths, runs and broken invariants.
faults: build
	@rm -f $(BUILD_DIR)/faults-table.md
	@cd $(BUILD_DIR) && TAVREN3_FAULTS=full TAVREN3_FAULT_TABLE=$(CURDIR)/$(BUILD_DIR)/faults-table.md \
	    ctest --output-on-failure -j $(JOBS) --timeout 1800 -L faults; status=$$?; \
	    printf '\n| Path | Calls | Runs | Calls failed | Kinds of call failed | Violations |\n|---|---:|---:|---:|---|---:|\n'; \
	    sort faults-table.md 2>/dev/null; exit $$status

# Each fuzz target for a bounded time (FUZZ_SECONDS each, default 30).
fuzz:
	@scripts/fuzz.sh

# Minutes of random file traffic against many entries (SOAK_SECONDS).
soak: build
	@scripts/soak.sh $(BUILD_DIR)

# The store, engine and headless runner cross-built for Windows, packed as a
# zip and a per-user installer, and their tests run under Wine.
windows:
	@scripts/windows.sh

test-windows:
	@scripts/windows.sh --test

# Pictures of the tray program under a virtual display, for the README.
screenshots: build
	@scripts/screenshots.sh --no-build

# Pictures of the Windows program's windows under Wine (a prefix of its
# own in the Windows build folder), for the README.
screenshots-windows:
	@scripts/screenshots-windows.sh

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	@rm -rf $(BUILD_DIR) $(CHECK_DIR) $(TSAN_DIR) $(BENCH_DIR) $(DEB_DIR)
