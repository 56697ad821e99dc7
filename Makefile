# Day-to-day commands. ./run and ./test do the same and also install what is missing.
BUILD ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
PKG_BUILD ?= build-pkg
FUZZ_SECONDS ?= 300
# The random soak of the windows runs longer here than in ./test.
SANITIZE_ENV = ASAN_OPTIONS=detect_leaks=1:check_initialization_order=1:strict_init_order=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 SEQUORA_SOAK_STEPS=10000

.PHONY: build run test clean deps fuzz fuzz-short test-sanitize package

deps:
	scripts/install-deps

build:
	SEQUORA_BUILD_DIR=$(BUILD) scripts/configure

run: build
	cd /usr/share/games/openttd/baseset/openmsx 2>/dev/null || cd $$HOME; exec $(CURDIR)/$(BUILD)/bin/sequora

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j$$(nproc)

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer, in its own folder.
test-sanitize:
	scripts/install-deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSEQUORA_SANITIZE=ON -DSEQUORA_BUILD_BENCH=OFF
	cmake --build $(ASAN_BUILD) -j$$(nproc)
	$(SANITIZE_ENV) ctest --test-dir $(ASAN_BUILD) --output-on-failure -j$$(nproc)

# libFuzzer runs of the MIDI file reader and the MCI command parser, FUZZ_SECONDS each.
fuzz:
	SEQUORA_DEPS_EXTRA="clang libclang-rt-14-dev" scripts/install-deps
	fuzz/run-fuzzers $(FUZZ_BUILD) $(FUZZ_SECONDS)

fuzz-short:
	$(MAKE) fuzz FUZZ_SECONDS=60

# The Debian package, from a Release build of its own without tests or benchmarks.
package:
	scripts/install-deps
	cmake -S . -B $(PKG_BUILD) -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DSEQUORA_BUILD_BENCH=OFF \
	  $(if $(filter true,$(CI)),-DSEQUORA_WARNINGS_AS_ERRORS=ON)
	cmake --build $(PKG_BUILD) -j$$(nproc)
	cd $(PKG_BUILD) && cpack -G DEB

clean:
	rm -rf $(BUILD)
