# Day-to-day commands. ./run and ./test do the same and also install what is missing.
BUILD ?= build

.PHONY: build run test clean deps

deps:
	scripts/install-deps

build:
	SEQUORA_BUILD_DIR=$(BUILD) scripts/configure

run: build
	cd /usr/share/games/openttd/baseset/openmsx 2>/dev/null || cd $$HOME; exec $(CURDIR)/$(BUILD)/bin/sequora

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j$$(nproc)

clean:
	rm -rf $(BUILD)
