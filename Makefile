# Entry points for people and CI. Each target installs the Debian packages it
# needs, configures and builds; see README.md.

BUILD_DIR ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

BUILD_PACKAGES := cmake make g++ pkg-config qtbase5-dev qtbase5-dev-tools
RUN_PACKAGES := dbus-daemon dbus-bin python3 python3-dbusmock util-linux mount
TEST_PACKAGES := $(BUILD_PACKAGES) $(RUN_PACKAGES) clang-format
DEMO_PACKAGES := $(BUILD_PACKAGES) $(RUN_PACKAGES)
# What deps installs; make demo narrows it to its own list.
DEPS_PACKAGES = $(TEST_PACKAGES)

.PHONY: all deps build test demo format clean

all: build

deps:
	./tools/install-deps.sh $(DEPS_PACKAGES)

$(BUILD_DIR)/CMakeCache.txt:
	cmake -S . -B $(BUILD_DIR) -DPHOTOMANAGER_WERROR=ON $(CMAKE_FLAGS)

build: deps $(BUILD_DIR)/CMakeCache.txt
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

# The daemon against the simulated device, narrated (sim/demo.sh; needs root).
demo: DEPS_PACKAGES = $(DEMO_PACKAGES)
demo: build
	./sim/demo.sh $(BUILD_DIR)

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD_DIR)
