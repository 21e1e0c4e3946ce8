# Entry points for people and CI. Each target installs the Debian packages it
# needs, configures and builds; see README.md.

BUILD_DIR ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

BUILD_PACKAGES := cmake make g++ pkg-config qtbase5-dev qtbase5-dev-tools libsystemd-dev
RUN_PACKAGES := dbus-daemon dbus-bin python3 python3-dbusmock util-linux mount
# systemd checks the installed unit and tmpfiles entry and, with
# dbus-user-session, runs it under a private user manager (the session
# test); groff renders the manual pages, man finds the unit's
# Documentation= page.
TEST_PACKAGES := $(BUILD_PACKAGES) $(RUN_PACKAGES) clang-format valgrind clang libclang-rt-14-dev \
  systemd dbus-user-session groff-base man-db
DEMO_PACKAGES := $(BUILD_PACKAGES) $(RUN_PACKAGES)
# What deps installs; make demo narrows it to its own list.
DEPS_PACKAGES = $(TEST_PACKAGES)

.PHONY: all deps build test test-native test-sanitizers test-fuzz demo soak format clean

all: build

deps:
	./tools/install-deps.sh $(DEPS_PACKAGES)

$(BUILD_DIR)/CMakeCache.txt:
	cmake -S . -B $(BUILD_DIR) -DPHOTOMANAGER_WERROR=ON $(CMAKE_FLAGS)

build: deps $(BUILD_DIR)/CMakeCache.txt
	cmake --build $(BUILD_DIR) -j $(JOBS)

# The whole suite, then again built with AddressSanitizer and
# UndefinedBehaviorSanitizer, then a short run of each fuzz target.
test: test-native test-sanitizers test-fuzz

test-native: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

SANITIZE_BUILD_DIR ?= build-asan
FUZZ_BUILD_DIR ?= build-fuzz
SANITIZER_ENV := ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

test-sanitizers: deps
	cmake -S . -B $(SANITIZE_BUILD_DIR) -DPHOTOMANAGER_WERROR=ON \
	  -DPHOTOMANAGER_SANITIZE=address,undefined -DPHOTOMANAGER_BUILD_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(SANITIZE_BUILD_DIR) -j $(JOBS)
	cd $(SANITIZE_BUILD_DIR) && $(SANITIZER_ENV) ctest -E '^format$$' --output-on-failure -j $(JOBS)

test-fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD_DIR) -DPHOTOMANAGER_WERROR=ON \
	  -DPHOTOMANAGER_SANITIZE=address,undefined,fuzzer-no-link -DPHOTOMANAGER_BUILD_FUZZ=ON \
	  -DPHOTOMANAGER_BUILD_TESTS=OFF -DPHOTOMANAGER_BUILD_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(FUZZ_BUILD_DIR) -j $(JOBS)
	cd $(FUZZ_BUILD_DIR) && $(SANITIZER_ENV) ctest -L fuzz --output-on-failure -j $(JOBS)

# The daemon against the simulated device, narrated (sim/demo.sh; needs root).
demo: DEPS_PACKAGES = $(DEMO_PACKAGES)
demo: build
	./sim/demo.sh $(BUILD_DIR)

# The daemon against its floor, side by side on private buses (bench/; needs
# root). Never part of make test: a benchmark reports, it does not fail.
# make bench CPUS=1 pins every process of the bench to one CPU, as on a
# single-core device; its table goes to bench-results-1cpu.*.
CPUS ?=
ifeq ($(CPUS),1)
BENCH_MODE_FLAGS := --one-cpu
BENCH_RESULTS := $(BUILD_DIR)/bench-results-1cpu
else ifeq ($(CPUS),)
BENCH_MODE_FLAGS :=
BENCH_RESULTS := $(BUILD_DIR)/bench-results
else
BENCH_MODE_FLAGS = $(error CPUS=$(CPUS): make bench knows CPUS=1 or all CPUs)
endif
.PHONY: bench
bench: build
	$(BUILD_DIR)/bench/photomanager_bench $(BENCH_MODE_FLAGS) --csv $(BENCH_RESULTS).csv \
	  --markdown $(BENCH_RESULTS).md

# Photos through the real binary with the benchmarks' fast sibling fakes,
# checking folder size, names, memory and the log (tests/tst_soak.cpp; needs
# root; make test runs it skipped: 10,000 photos take about half a minute).
SOAK_PHOTOS ?= 10000
soak: build
	cd $(BUILD_DIR) && SOAK_PHOTOS=$(SOAK_PHOTOS) ctest -L soak --output-on-failure

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

# Which lines and branches of src/ and tools/ the native suite runs: a build
# that records it (gcov), the suite but for the session test (the unit's
# sandbox keeps the daemon from writing its records) and the run under
# valgrind, then gcovr's tables and an HTML page in build-coverage/coverage/.
# A map of what no test checks, not a target.
COVERAGE_BUILD_DIR ?= build-coverage
.PHONY: coverage
coverage: deps
	./tools/install-deps.sh gcovr
	cmake -S . -B $(COVERAGE_BUILD_DIR) -DCMAKE_BUILD_TYPE=Debug -DPHOTOMANAGER_WERROR=ON \
	  -DPHOTOMANAGER_COVERAGE=ON -DPHOTOMANAGER_BUILD_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(COVERAGE_BUILD_DIR) -j $(JOBS)
	find $(COVERAGE_BUILD_DIR) -name '*.gcda' -delete
	cd $(COVERAGE_BUILD_DIR) && ctest -E '^(install_session|tst_daemon_valgrind|format)$$' \
	  --output-on-failure -j $(JOBS)
	mkdir -p $(COVERAGE_BUILD_DIR)/coverage
	gcovr --root . --object-directory $(COVERAGE_BUILD_DIR) --filter src/ --filter tools/ \
	  --exclude-throw-branches --exclude-unreachable-branches --print-summary \
	  --html-details $(COVERAGE_BUILD_DIR)/coverage/index.html \
	  --txt $(COVERAGE_BUILD_DIR)/coverage/lines.txt
	gcovr --root . --object-directory $(COVERAGE_BUILD_DIR) --filter src/ --filter tools/ \
	  --exclude-throw-branches --exclude-unreachable-branches --branches \
	  --txt $(COVERAGE_BUILD_DIR)/coverage/branches.txt
	cat $(COVERAGE_BUILD_DIR)/coverage/lines.txt $(COVERAGE_BUILD_DIR)/coverage/branches.txt

# Static analysis of src/, tools/ and tests/: a build with clazy as the
# compiler, whose checks of levels 0 and 1 fail it on any finding, then
# clang-tidy with .clang-tidy. Code that Qt's tools generate (in the build
# folder) is left out; a finding kept on purpose is suppressed next to its
# line, with the reason.
LINT_BUILD_DIR ?= build-lint
LINT_PACKAGES := $(BUILD_PACKAGES) clang clang-tidy clazy libclang-rt-14-dev
LINT_SOURCES := $(CURDIR)/(src|tools|tests|bench)/
.PHONY: lint
lint:
	./tools/install-deps.sh $(LINT_PACKAGES)
	CC=clang CXX=clazy cmake -S . -B $(LINT_BUILD_DIR) -DPHOTOMANAGER_WERROR=ON \
	  -DPHOTOMANAGER_BUILD_FUZZ=ON -DPHOTOMANAGER_BUILD_BENCH=ON \
	  -DCMAKE_EXPORT_COMPILE_COMMANDS=ON $(CMAKE_FLAGS)
	status=0; \
	CLAZY_CHECKS=level0,level1 CLAZY_IGNORE_DIRS='$(CURDIR)/$(LINT_BUILD_DIR)/.*' \
	  CLAZY_HEADER_FILTER='$(LINT_SOURCES).*' cmake --build $(LINT_BUILD_DIR) -j $(JOBS) -- -k || status=1; \
	run-clang-tidy -p $(LINT_BUILD_DIR) -j $(JOBS) -quiet -header-filter='^$(LINT_SOURCES)' \
	  '^$(LINT_SOURCES).*\.cpp$$' || status=1; \
	exit $$status

clean:
	rm -rf $(BUILD_DIR) $(SANITIZE_BUILD_DIR) $(FUZZ_BUILD_DIR) $(LINT_BUILD_DIR) \
	  $(COVERAGE_BUILD_DIR)

# The device build: arm64 through the cross toolchain, warnings as errors.
# Tests that need no bus also run under qemu-user. Then the daemon's
# end-to-end tests (tst_daemon) run the arm64 photomanager under
# qemu-aarch64-static (without -L, which hangs threaded programs), while the
# test program, the private bus and the sibling mocks stay native: qemu-user
# cannot start processes with QProcess's clone flags. Emulation is slower, so
# the tests' waits for the daemon are stretched (conditions, never sleeps).
CROSS_BUILD_DIR ?= build-arm64
CROSS_TEST_TIMEOUT ?= 300
CROSS_WAIT_SCALE ?= 5

.PHONY: cross cross-deps cross-clean

cross-deps:
	./tools/install-cross-deps.sh

$(CROSS_BUILD_DIR)/CMakeCache.txt: | cross-deps
	cmake -S . -B $(CROSS_BUILD_DIR) -DPHOTOMANAGER_WERROR=ON $(CMAKE_FLAGS) \
	  -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/toolchain-aarch64-linux-gnu.cmake

cross: build cross-deps $(CROSS_BUILD_DIR)/CMakeCache.txt
	cmake --build $(CROSS_BUILD_DIR) -j $(JOBS)
	./tools/check-aarch64-executables.sh $(CROSS_BUILD_DIR)/shipped-executables.txt
	cd $(CROSS_BUILD_DIR) && ctest -L nobus --no-tests=error --timeout $(CROSS_TEST_TIMEOUT) \
	  --output-on-failure -j $(JOBS)
	cd $(BUILD_DIR)/tests && PATH=/usr/bin:/bin:$$PATH TZ=UTC \
	  PHOTOMANAGER_SOURCE_DIR=$(CURDIR) \
	  PHOTOMANAGER_BINARY=$(abspath $(CROSS_BUILD_DIR))/src/photomanager \
	  PHOTOMANAGER_CTL=$(abspath $(BUILD_DIR))/tools/photomanager-ctl \
	  PHOTOMANAGER_WRAPPER=qemu-aarch64-static PHOTOMANAGER_WAIT_SCALE=$(CROSS_WAIT_SCALE) \
	  timeout $(CROSS_TEST_TIMEOUT) ./tst_daemon

cross-clean:
	rm -rf $(CROSS_BUILD_DIR)

clean: cross-clean

# Debian packages (debian/), built from a copy of the tracked files so that
# dpkg-buildpackage leaves this tree as it is; then lintian (no error, no
# warning) and the package checks (tests/package/check-package.sh: the files,
# the binaries' architecture, the session test on the unpacked package).
# Natively, the packages are then tested as installed, in throwaway copies
# of a clean chroot of this machine's release (made once by mmdebstrap and
# kept in CHROOT): autopkgtest runs debian/tests, piuparts installs, purges
# and upgrades them (tools/check-installed-packages.sh).
# make deb ARCH=arm64 cross-builds for the device into build/deb-arm64/.
ARCH ?=
DEB_TOOLS := debhelper dpkg-dev lintian file
# What the session test needs to run on the native package's files.
SESSION_PACKAGES := $(RUN_PACKAGES) systemd
CHROOT ?= $(BUILD_DIR)/chroot/$(shell . /etc/os-release && echo $$VERSION_CODENAME)-$(shell dpkg --print-architecture).tar.gz
ifeq ($(filter-out $(shell dpkg --print-architecture),$(ARCH)),)
DEB_DIR := $(BUILD_DIR)/deb
DEB_BUILD_FLAGS :=
DEB_DEPS := ./tools/install-deps.sh $(BUILD_PACKAGES) libsystemd-dev pkgconf $(DEB_TOOLS) $(SESSION_PACKAGES) \
  autopkgtest piuparts mmdebstrap
DEB_INSTALLED_CHECK := ./tools/make-test-chroot.sh $(CHROOT) && \
  ./tools/check-installed-packages.sh $(DEB_DIR) $(CHROOT)
else ifeq ($(ARCH),arm64)
DEB_DIR := $(BUILD_DIR)/deb-arm64
DEB_BUILD_FLAGS := -a arm64 -Pcross,nocheck
DEB_DEPS := ./tools/install-cross-deps.sh libsystemd-dev:arm64 pkgconf:arm64 $(DEB_TOOLS)
DEB_INSTALLED_CHECK := echo "autopkgtest and piuparts: skipped, arm64 packages do not run on this machine"
else
DEB_DEPS = $(error ARCH=$(ARCH): make deb knows ARCH=arm64 or this machine's architecture)
endif

.PHONY: deb
deb:
	$(DEB_DEPS)
	rm -rf $(DEB_DIR)
	mkdir -p $(DEB_DIR)/src
	git ls-files -z | tar --null -T - -cf - | tar -xf - -C $(DEB_DIR)/src
	cd $(DEB_DIR)/src && dpkg-buildpackage -b -us -uc -J$(JOBS) $(DEB_BUILD_FLAGS)
	lintian --display-info --fail-on error,warning $(DEB_DIR)/*.changes
	./tests/package/check-package.sh $(DEB_DIR)/photomanager_*.deb $(DEB_DIR)/photomanager-sim_*.deb
	$(DEB_INSTALLED_CHECK)
