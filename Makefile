# Front door: each target installs what is missing, configures, builds and does its one thing.
# CI sets CI=true, which turns warnings into errors.
PRESET ?= $(if $(CI),ci,default)
BUILD := build/$(PRESET)
# make install PREFIX=... DESTDIR=...: the release build's prefix is /usr/local unless PREFIX says
# otherwise; DESTDIR stages the whole tree elsewhere, as packagers do.
PREFIX ?=
DESTDIR ?=

.PHONY: all deps build test run bench fuzz release install uninstall package clean

all: build

deps:
	@scripts/install-deps

build: deps
	cmake --preset $(PRESET)
	cmake --build --preset $(PRESET)

test: build
	ctest --preset $(PRESET)

# The window and the libraries it links, nothing more: tests, benchmarks and fuzz replays wait for
# make test.
run: deps
	cmake --preset $(PRESET)
	cmake --build --preset $(PRESET) --target morvalen
	$(BUILD)/app/morvalen

bench: deps
	cmake --preset bench
	cmake --build --preset bench
	build/bench/bench/morvalen-bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
		--benchmark_enable_random_interleaving=true

fuzz:
	scripts/fuzz $(FUZZ_SECONDS)

# install, uninstall and package use the Release build in build/release, whatever PRESET is.
release: deps
	cmake --preset release
	cmake --build --preset release

install: release
	PREFIX="$(PREFIX)" DESTDIR="$(DESTDIR)" scripts/install-release

uninstall:
	scripts/uninstall-release

package:
	scripts/install-deps package
	cmake --preset release
	cmake --build --preset release
	cpack --preset release

clean:
	rm -rf build
