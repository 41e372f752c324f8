# Two entry points for a newcomer: `make demo` and `make test`. Each checks
# the needed Debian packages, then configures and builds what it needs.
BUILD ?= build
MAKEFLAGS += --no-print-directory
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo $(if $(CI),-DPHONOSKEW_WERROR=ON)

.PHONY: all build demo test bench deps clean check-sanitize fuzz check-portable check-arm64 \
	windows check-windows windows-zip windows-installer check-fresh

all: build

deps:
	@scripts/check-deps.sh

build: deps
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) -DPHONOSKEW_REQUIRE_TESTS=ON >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The program and the demo-signal tool alone, so no GoogleTest is needed.
demo:
	@scripts/check-deps.sh --demo
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) -DPHONOSKEW_REQUIRE_TESTS=OFF >/dev/null
	@cmake --build $(BUILD) -j $(JOBS) --target phonoskew phonoskew-demo-signal
	@scripts/demo.sh $(BUILD)

# Speed and memory figures of the whole job on 60 s of audio (BENCH_SECONDS=600
# for ten minutes), step by step and as a user runs it with each kernel,
# beside SoX, the peer it is measured against; and phonoskew-prepare beside
# SoX on the same recording as a 44.1 kHz FLAC.
BENCH_SECONDS ?= 60
bench: build
	@scripts/check-deps.sh --bench
	@$(BUILD)/tools/phonoskew-bench $(BUILD)/phonoskew --seconds $(BENCH_SECONDS) \
	    $$(test -x $(BUILD)/tools/phonoskew-prepare && echo --prepare $(BUILD)/tools/phonoskew-prepare)

# Every test again with the 64-bit-significand model computed in software
# (MPFR), as on machines whose long double is another format; the output
# files must be the x87 build's bytes, and the software arithmetic is checked
# against the x87 unit bit for bit.
PORTABLE_BUILD ?= build-portable
check-portable:
	@scripts/check-deps.sh --portable
	@cmake -S . -B $(PORTABLE_BUILD) $(CMAKE_FLAGS) -DPHONOSKEW_REQUIRE_TESTS=ON \
	    -DPHONOSKEW_PORTABLE_EXTENDED=ON >/dev/null
	@cmake --build $(PORTABLE_BUILD) -j $(JOBS)
	@cd $(PORTABLE_BUILD) && ctest --output-on-failure -j $(JOBS)

# The arm64 build, cross-compiled with Debian's crossbuild-essential-arm64
# into build-arm64/, its tests run under qemu-aarch64 and its outputs compared
# with the native build's (scripts/check-arm64.sh says what runs where).
ARM64_BUILD ?= build-arm64
ARM64_TARGETS = phonoskew phonoskew-demo-signal numeric_tests filters_tests engine_tests \
	wave_tests system_tests driver_tests
check-arm64: build
	@scripts/check-deps.sh --arm64
	@cmake -S . -B $(ARM64_BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake \
	    $(CMAKE_FLAGS) -DPHONOSKEW_REQUIRE_TESTS=ON \
	    -DPHONOSKEW_GTEST_SOURCE=/usr/src/googletest >/dev/null
	@cmake --build $(ARM64_BUILD) -j $(JOBS) --target $(ARM64_TARGETS)
	@scripts/check-arm64.sh $(abspath $(ARM64_BUILD)) $(abspath $(BUILD))

# The Windows build (x86-64), cross-compiled with Debian's mingw-w64 into
# build-windows/. Highway, of which Debian has no Windows build, is first
# built from Debian's own sources into build-windows/deps (once: half a
# minute; then skipped); windows-zip adds libsndfile and libsoxr with their
# codecs for phonoskew-prepare, and PortAudio and libebur128 for
# phonoskew-listen (about ten minutes more, once). The programs run
# under wine; scripts/with-wine.sh keeps one wine session up while the
# build lists the tests and while they run.
WINDOWS_BUILD ?= build-windows
WINDOWS_DEPS_FLAGS ?=
# Without debug information: static links of every test program are most of
# the Windows build's time, and nobody debugs it on this machine.
WINDOWS_CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=Release $(if $(CI),-DPHONOSKEW_WERROR=ON)
windows:
	@scripts/check-deps.sh --windows
	@scripts/build-windows-deps.sh $(WINDOWS_BUILD)/deps $(WINDOWS_DEPS_FLAGS)
	@cmake -S . -B $(WINDOWS_BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/x86_64-w64-mingw32.cmake \
	    -DPHONOSKEW_WINDOWS_DEPS=$(abspath $(WINDOWS_BUILD))/deps $(WINDOWS_CMAKE_FLAGS) \
	    -DPHONOSKEW_REQUIRE_TESTS=ON -DPHONOSKEW_GTEST_SOURCE=/usr/src/googletest >/dev/null
	@scripts/with-wine.sh $(WINDOWS_BUILD) cmake --build $(WINDOWS_BUILD) -j $(JOBS)

# The unit tests under wine, the whole job's outputs against the native
# build's, and the screen wine draws read by the native end-to-end harness
# (scripts/check-windows.sh).
check-windows: windows build
	@JOBS=$(JOBS) scripts/with-wine.sh $(WINDOWS_BUILD) \
	    scripts/check-windows.sh $(abspath $(WINDOWS_BUILD)) $(abspath $(BUILD))

# build-windows/phonoskew-VERSION-windows-x86_64.zip: the programs, the
# example sets and examples\batch.bat, the README for Windows users, the full
# README, the guide to accepted files and the man pages as Windows text,
# checked under wine (scripts/windows-zip.sh).
windows-zip: WINDOWS_DEPS_FLAGS = --prepare --listen
windows-zip: windows
	@scripts/with-wine.sh $(WINDOWS_BUILD) scripts/windows-zip.sh $(abspath $(WINDOWS_BUILD))

# build-windows/phonoskew-VERSION-setup.exe: the zip's folder as an NSIS
# installer (Debian's nsis), checked under wine: installed for the user and
# for all users, on the PATH, the Start-menu entry, and uninstalled without
# a trace (scripts/windows-installer.sh).
windows-installer: windows-zip
	@scripts/check-deps.sh --installer
	@scripts/with-wine.sh $(WINDOWS_BUILD) scripts/windows-installer.sh $(abspath $(WINDOWS_BUILD))

# The checking build, by clang, in a folder of its own that both targets
# share: every library carries the sanitizers and the fuzzer's coverage
# counters. check-sanitize runs every test with AddressSanitizer (leaks included) and
# UndefinedBehaviorSanitizer, stopping at the first fault. Reports go to
# files, so that one from a program a test runs in a pseudo-terminal or with
# its output taken is never lost, and any report fails the check. The tests
# left out measure or limit the program's own memory and stack, which the
# sanitizers' shadow memory and stacks change: address-space limits
# (AddressSanitizer reserves terabytes first), the peak memory at two
# lengths, 64 KiB stacks, and a limit of five open files (the leak check at
# exit needs more).
SANITIZE_BUILD ?= build-sanitize
FUZZ_SECONDS ?= 60
CLANG_FLAGS = -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	-DPHONOSKEW_SANITIZE=ON -DPHONOSKEW_FUZZ=ON
SANITIZE_SKIP = ^(JobTest\.(TightAddressSpaceTakesFewerThreads|MemoryStaysTheSameWhateverTheLength|RunsWithTinyStacks)|RunInPipesTest\.NoDescriptorLeftIsNamedInTheBox)$$
SANITIZE_REPORTS = $(abspath $(SANITIZE_BUILD))/sanitizer-reports
SANITIZE_ENV = ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1:strict_string_checks=1:log_path=$(SANITIZE_REPORTS)/report \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:log_path=$(SANITIZE_REPORTS)/report

check-sanitize:
	@scripts/check-deps.sh --clang
	@cmake -S . -B $(SANITIZE_BUILD) $(CLANG_FLAGS) >/dev/null
	@cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	@rm -rf $(SANITIZE_REPORTS) && mkdir -p $(SANITIZE_REPORTS)
	@cd $(SANITIZE_BUILD) && status=0 && \
	    { $(SANITIZE_ENV) ctest --output-on-failure -j $(JOBS) -E '$(SANITIZE_SKIP)' || status=$$?; } && \
	    for report in $(SANITIZE_REPORTS)/*; do \
	        [ -e "$$report" ] || continue; echo "== $$report"; cat "$$report"; status=1; \
	    done && exit $$status

# The README's two commands on a brand-new Debian 12 made with debootstrap,
# with the apt-get line each prints run as a newcomer would
# (scripts/check-fresh.sh): proves that the project installs or names all
# it needs. Needs root and Debian's mirror; minutes, so not in CI.
FRESH_BUILD ?= build-fresh
check-fresh:
	@scripts/check-deps.sh --fresh
	@scripts/check-fresh.sh $(FRESH_BUILD)

# Each fuzz target (fuzz/) for FUZZ_SECONDS.
fuzz:
	@scripts/check-deps.sh --clang
	@cmake -S . -B $(SANITIZE_BUILD) $(CLANG_FLAGS) >/dev/null
	@cmake --build $(SANITIZE_BUILD) -j $(JOBS) --target header_fuzz coefficients_fuzz number_fuzz
	@fuzz/run.sh $(SANITIZE_BUILD) $(FUZZ_SECONDS)

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD) $(PORTABLE_BUILD) $(ARM64_BUILD) $(WINDOWS_BUILD) demo
	@if [ -d $(FRESH_BUILD) ]; then for p in dev sys proc; do \
	    mountpoint -q $(FRESH_BUILD)/root/$$p && umount -R -l $(FRESH_BUILD)/root/$$p; done; \
	    rm -rf --one-file-system $(FRESH_BUILD); fi
