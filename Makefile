# make run    install what is missing, build, start the program on the simulated card
# make test   the same set-up, then the whole test suite (sanitizer build, headless)
# make bench  the benchmarks (optimised build)

JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all deps build build-asan run run-monitor test bench clean

all: build

deps:
	@scripts/install-deps.sh

build: deps
	cmake --preset default >/dev/null
	cmake --build --preset default -j $(JOBS)

build-asan: deps
	cmake --preset asan >/dev/null
	cmake --build --preset asan -j $(JOBS)

run: build
	build/default/bin/zqd4830-gps

run-monitor: build
	build/default/bin/zqd4830-gps --monitor

test: build-asan
	cd build/asan && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

bench: build
	cd build/default && bin/zqd_bench

clean:
	rm -rf build
