# The two commands of the README, and their helpers.
#   make run        install what is missing, build, start Trelvo
#   make test       install what is missing, build, run every test
#   make test-asan  the same tests under AddressSanitizer and UndefinedBehaviorSanitizer
#   make test-tsan  the threading tests under ThreadSanitizer
#   make bench      build optimised and run the benchmarks
#   make fuzz       build the fuzz targets with clang and run each for FUZZ_SECONDS

BUILD_DIR ?= build
ASAN_DIR ?= build-asan
TSAN_DIR ?= build-tsan
# Tests about threads. Left out: the fault-guard tests (signals under TSan are not reliable) and
# the JACK tests (libjack is not instrumented, so TSan cannot see its synchronisation).
TSAN_TESTS ?= AudioEngine|IsolatedSlot|PlugInChannels|WidePlugInTest|WorkThread|AllocationGuard|MidiLayer|EngineControl|AlsaDriver|HostCallback|MidiLock|SlotCommandQueue|DiagLog|BoundedQueue|Transport|OpcodeLevels|RackController|OscTest
BENCH_DIR ?= build-bench
FUZZ_DIR ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZERS ?= ini preset midifile
JOBS ?= $(shell nproc)
# Warnings are errors where CI builds (CI is set there).
WERROR ?= $(if $(CI),ON,OFF)
CMAKE_FLAGS ?=

.PHONY: all deps build run test test-asan test-tsan bench fuzz package clean

all: build

deps:
	@./tools/install-deps.sh

build: deps
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTRELVO_WERROR=$(WERROR) $(CMAKE_FLAGS)
	cmake --build $(BUILD_DIR) -j $(JOBS)

# Without ARGS the demo project runs: headless on the settings' driver (Dummy on a first start).
run: build
	$(BUILD_DIR)/src/app/trelvo $(if $(ARGS),$(ARGS),$(if $(DISPLAY),,--headless) share/demo/demo.vprj)

test: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

# A Debian package of the build, in $(BUILD_DIR)/package: install it with
# sudo apt-get install ./$(BUILD_DIR)/package/trelvo_*.deb
package: build
	cd $(BUILD_DIR) && cpack -G DEB -B $(CURDIR)/$(BUILD_DIR)/package

test-asan: deps
	cmake -S . -B $(ASAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTRELVO_WERROR=$(WERROR) \
	  "-DTRELVO_SANITIZE=address;undefined" -DTRELVO_BUILD_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(ASAN_DIR) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:handle_segv=0:allow_user_segv_handler=1 \
	LSAN_OPTIONS=suppressions=$(CURDIR)/tools/lsan.supp:print_suppressions=0 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir $(ASAN_DIR) --output-on-failure -j $(JOBS)

test-tsan: deps
	cmake -S . -B $(TSAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTRELVO_WERROR=$(WERROR) \
	  -DTRELVO_SANITIZE=thread -DTRELVO_BUILD_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(TSAN_DIR) -j $(JOBS)
	TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$(CURDIR)/tools/tsan-plugins.supp \
	  ctest --test-dir $(TSAN_DIR) --output-on-failure -j $(JOBS) -R '$(TSAN_TESTS)'

bench: deps
	cmake -S . -B $(BENCH_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DTRELVO_BUILD_TESTS=OFF $(CMAKE_FLAGS)
	cmake --build $(BENCH_DIR) -j $(JOBS)
	$(BENCH_DIR)/bench/trelvo_bench $(BENCH_ARGS)

fuzz: deps
	cmake -S . -B $(FUZZ_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
	  -DCMAKE_CXX_COMPILER=clang++ "-DTRELVO_SANITIZE=address;undefined;fuzzer-no-link" -DTRELVO_FUZZ=ON \
	  -DTRELVO_BUILD_TESTS=OFF -DTRELVO_BUILD_BENCH=OFF -DTRELVO_BUILD_PLUGINS=OFF $(CMAKE_FLAGS)
	cmake --build $(FUZZ_DIR) -j $(JOBS)
	@for fuzzer in $(FUZZERS); do \
	  mkdir -p $(FUZZ_DIR)/corpus/$$fuzzer; \
	  echo "fuzzing $$fuzzer for $(FUZZ_SECONDS) s"; \
	  $(FUZZ_DIR)/fuzz/$${fuzzer}_fuzzer -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
	    $(FUZZ_DIR)/corpus/$$fuzzer fuzz/corpus/$$fuzzer || exit 1; \
	done

clean:
	rm -rf $(BUILD_DIR) $(ASAN_DIR) $(TSAN_DIR) $(BENCH_DIR) $(FUZZ_DIR)
