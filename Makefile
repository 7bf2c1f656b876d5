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

bench: deps
	cmake --preset bench
	cmake --build --preset bench
	build/bench/bench/morvalen-bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true

fuzz:
	scripts/fuzz $(FUZZ_SECONDS)

install: build
	cmake --install $(BUILD)

clean:
	rm -rf build
