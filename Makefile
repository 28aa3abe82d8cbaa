# The user's interface to repodeck's build: every target sets the machine up first.
.PHONY: all setup linux windows package run test budget sanitize bench clean

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

# build/linux/repodeck_<version>_amd64.deb and build/windows/repodeck-<version>-windows-x64.zip.
package: linux windows
	@cmake --build $(BUILD)/linux --target package
	@cmake --build $(BUILD)/windows --target package

run: linux
	@$(BUILD)/linux/repodeck

# What CI runs: warnings are errors here; the packages are checked last.
test: CMAKE_FLAGS += -DREPODECK_WERROR=ON
test: package
	ctest --test-dir $(BUILD)/linux --output-on-failure -j $(JOBS)
	ctest --test-dir $(BUILD)/windows --output-on-failure -j $(JOBS)
	sh tests/package.sh $(BUILD)/linux $(BUILD)/windows
	@$(MAKE) --no-print-directory budget

# The tests' size against the product's: every file under tests/, and the C++
# under app/ log/ exec/ scan/, in lines; the ratio is kept at most 0.35.
budget:
	@tests=$$(git ls-files 'tests/*' | xargs cat | wc -l); \
	code=$$(git ls-files 'app/*' 'log/*' 'exec/*' 'scan/*' | grep -E '\.(cpp|cc|h|hpp|c)$$' | xargs cat | wc -l); \
	echo "tests/: $$tests lines"; echo "product code: $$code lines"; \
	awk -v t=$$tests -v c=$$code 'BEGIN { printf "ratio: %.2f (at most 0.35)\n", t / c }'

sanitize: setup
	@$(CMAKE_LINUX) -B $(BUILD)/asan -DREPODECK_SANITIZE=address >/dev/null
	@cmake --build $(BUILD)/asan
	ctest --test-dir $(BUILD)/asan --output-on-failure -j $(JOBS)
	@$(CMAKE_LINUX) -B $(BUILD)/tsan -DREPODECK_SANITIZE=thread >/dev/null
	@cmake --build $(BUILD)/tsan
	TSAN_OPTIONS="halt_on_error=1 suppressions=$(CURDIR)/tests/tsan.supp" ctest --test-dir $(BUILD)/tsan --output-on-failure -j $(JOBS)

# Release programs, a farm of 200 local and 50 distant repositories and a tree
# of 2,000 small ones made once in the bench build folder, then the tables of
# bench/README.md (the real sshd's 200 repositories, half an hour a run, are by hand).
bench: setup
	@cmake -S . -G Ninja -DCMAKE_BUILD_TYPE=Release -DREPODECK_BENCH=ON -DBUILD_TESTING=OFF -B $(BUILD)/bench >/dev/null
	@cmake --build $(BUILD)/bench --target repodeck repodeck-scan DiscoveryBench LogPaneBench SummaryBench WatchBench
	@sh bench/make-farm $(BUILD)/bench/farm
	@sh bench/run $(BUILD)/bench $(BUILD)/bench/farm
	@sh bench/first-row $(BUILD)/bench $(BUILD)/bench
	@sh bench/watch $(BUILD)/bench $(BUILD)/bench
	@sh bench/memory $(BUILD)/bench
	@sh bench/real-sshd $(BUILD)/bench
	@sh bench/real-sshd $(BUILD)/bench 50 10
	@BENCH_SILENT=1 BENCH_SSH_DELAYS=0.05 sh bench/real-sshd $(BUILD)/bench 10

clean:
	rm -rf $(BUILD)/linux $(BUILD)/windows $(BUILD)/asan $(BUILD)/tsan $(BUILD)/bench
