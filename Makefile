# The user's interface to repodeck's build: every target sets the machine up first.
.PHONY: all setup linux windows run test sanitize bench clean

BUILD := build
CMAKE_LINUX := cmake -S . -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
CMAKE_WINDOWS := cmake -S . -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
JOBS := $(shell nproc)

all: linux

setup:
	@sh scripts/setup

linux: setup
	@$(CMAKE_LINUX) -B $(BUILD)/linux $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD)/linux

windows: setup
	@$(CMAKE_WINDOWS) -B $(BUILD)/windows $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD)/windows

run: linux
	@$(BUILD)/linux/repodeck

# What CI runs: warnings are errors here.
test: CMAKE_FLAGS += -DREPODECK_WERROR=ON
test: linux windows
	ctest --test-dir $(BUILD)/linux --output-on-failure -j $(JOBS)
	ctest --test-dir $(BUILD)/windows --output-on-failure -j $(JOBS)

sanitize: setup
	@$(CMAKE_LINUX) -B $(BUILD)/asan -DREPODECK_SANITIZE=address >/dev/null
	@cmake --build $(BUILD)/asan
	ctest --test-dir $(BUILD)/asan --output-on-failure -j $(JOBS)
	@$(CMAKE_LINUX) -B $(BUILD)/tsan -DREPODECK_SANITIZE=thread >/dev/null
	@cmake --build $(BUILD)/tsan
	TSAN_OPTIONS="halt_on_error=1 suppressions=$(CURDIR)/tests/tsan.supp" ctest --test-dir $(BUILD)/tsan --output-on-failure -j $(JOBS)

# Release programs, a farm of 200 local and 50 distant repositories made once
# in the bench build folder, then the table of bench/README.md.
bench: setup
	@cmake -S . -G Ninja -DCMAKE_BUILD_TYPE=Release -DREPODECK_BENCH=ON -DBUILD_TESTING=OFF -B $(BUILD)/bench >/dev/null
	@cmake --build $(BUILD)/bench --target repodeck repodeck-scan DiscoveryBench LogPaneBench SummaryBench
	@sh bench/make-farm $(BUILD)/bench/farm
	@sh bench/run $(BUILD)/bench $(BUILD)/bench/farm
	@sh bench/memory $(BUILD)/bench

clean:
	rm -rf $(BUILD)/linux $(BUILD)/windows $(BUILD)/asan $(BUILD)/tsan $(BUILD)/bench
