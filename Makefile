# make run    install what is missing, build, start the program on the simulated card
# make test   the same set-up, then the whole test suite (sanitizer build, headless)
# make bench  the benchmarks (optimised build)
# make test-qt5      the windows built and tested on Qt 5.15
# make test-windows  the Windows programs cross-built and checked under wine (32- or 64-bit, as this machine allows)
# make soak          days of a live archive on a small disk, in minutes (needs root for its small disks)

JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all deps build build-asan build-tsan package package-windows run run-monitor test test-qt5 test-windows soak bench clean

all: build

deps:
	@scripts/install-deps.sh
	@scripts/install-node-deps.sh

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

test: build-asan build-tsan
	cd build/asan && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)
	# The threaded code (session, sinks, record saving and loading, file locks, command line, conversion, the viewer's
	# indexing and its cache, the ring, the SeedLink server, the DataLink push, the station's metadata end to end) under ThreadSanitizer.
	cd build/tsan && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -j $(JOBS) \
	  -R '^(SessionFixture|SessionThread|Mailbox|MonitorThreaded|RecordSink|RecordFile|SafeFile|EndToEnd|MainFixture|MonitorFixture|AnalysisFixture|ArchiveSink|ArchiveEndToEnd|RecordHub|Convert|ViewFiles|Retention|RecordRing|SeedLink|LiveStop|DataLinkPush|StationDescribesItself)\.'

build-tsan: deps
	cmake --preset tsan >/dev/null
	cmake --build --preset tsan -j $(JOBS) --target zqd_tests zqd_cli_tests zqd_archive_tests zqd_stream_tests

test-qt5: deps
	scripts/install-deps.sh qtbase5-dev
	cmake --preset qt5 >/dev/null
	cmake --build --preset qt5 -j $(JOBS) --target zqd_gui_tests zqd4830-gps
	cd build/qt5 && QT_QPA_PLATFORM=offscreen bin/zqd_gui_tests

test-windows: deps
	scripts/test-windows.sh

# The Debian package: build/package/zqd4830-gps_<version>_amd64.deb
package: deps
	scripts/install-deps.sh help2man dpkg-dev
	cmake --preset package >/dev/null
	cmake --build --preset package -j $(JOBS)
	cd build/package && cpack -G DEB

# The Windows zip, from the 32-bit cross-build: build/win32/zqd4830-gps-<version>-win32.zip
package-windows: deps
	scripts/install-deps.sh g++-mingw-w64-i686
	cmake --preset win32 -DZQD_MSEED_SOURCE="$$(scripts/libmseed-source.sh)" >/dev/null
	cmake --build --preset win32 -j $(JOBS)
	cd build/win32 && cpack -G ZIP

soak: build
	scripts/soak-archive.sh

bench: build
	cd build/default && bin/zqd_bench

clean:
	rm -rf build
