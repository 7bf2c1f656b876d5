# Front door: each target installs what is missing, configures, builds and does its one thing.
# CI sets CI=true, which turns warnings into errors.
PRESET ?= $(if $(CI),ci,default)
BUILD := build/$(PRESET)

.PHONY: all deps build test run bench fuzz install clean

all: build

deps:
	@scripts/install-deps

build: deps
	cmake --preset $(PRESET)
	cmake --build --preset $(PRESET)

test: build
	ctest --preset $(PRESET)

run: build
	$(BUILD)/app/morvalen

bench: build
	$(BUILD)/bench/morvalen-bench

fuzz:
	scripts/fuzz $(FUZZ_SECONDS)

install: build
	cmake --install $(BUILD)

clean:
	rm -rf build
