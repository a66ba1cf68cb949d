# Every target installs what is missing first, then builds out of tree under build/.
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
# A compiler cache, where one is installed, makes rebuilds across work trees cheap.
LAUNCHER := $(if $(shell command -v ccache),-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
WERROR := $(if $(CI),ON,OFF)

APP_DIR := build/app
TEST_DIR := build/test
BENCH_DIR := build/bench
FUZZ_DIR := build/fuzz
# Seconds each fuzzing program runs; CI gives each 20, a release 300.
FUZZ_SECONDS ?= 20
APP := $(APP_DIR)/Quorrel.app/Contents/MacOS/Quorrel
# Where make install puts the application (PREFIX/opt) and its menu entry and icon (PREFIX/share).
PREFIX ?= $(HOME)/.local
export PREFIX

.PHONY: all deps app run demo screenshots install uninstall test ratio bench fuzz format clean

all: app

deps:
	@scripts/install-deps.sh

app: deps
	cmake -S . -B $(APP_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORREL_TESTS=OFF $(LAUNCHER) $(CMAKE_FLAGS)
	cmake --build $(APP_DIR) -j $(JOBS)

run: app
	$(APP)

demo: app
	$(APP) --demo

# Renders the window's states offscreen against the demo; the pictures are committed.
screenshots: app
	cmake --build $(APP_DIR) -j $(JOBS) --target quorrel-screenshots
	rm -f docs/screenshots/*.png
	$(APP_DIR)/tools/quorrel-screenshots docs/screenshots

install: app
	scripts/install.sh install

uninstall:
	scripts/install.sh uninstall

test: deps
	cmake -S . -B $(TEST_DIR) -DCMAKE_BUILD_TYPE=Debug -DQUORREL_SANITIZE=ON -DQUORREL_WERROR=$(WERROR) $(LAUNCHER) $(CMAKE_FLAGS)
	cmake --build $(TEST_DIR) -j $(JOBS)
	QT_QPA_PLATFORM=offscreen ctest --test-dir $(TEST_DIR) --output-on-failure -j $(JOBS)

# Test code against product code, in non-blank lines; the aim is at most 0.36.
ratio:
	@scripts/test-ratio.sh

bench: deps
	cmake -S . -B $(BENCH_DIR) -DCMAKE_BUILD_TYPE=Release -DQUORREL_TESTS=OFF -DQUORREL_BENCH=ON $(LAUNCHER) $(CMAKE_FLAGS)
	cmake --build $(BENCH_DIR) -j $(JOBS)
	cmake --build $(BENCH_DIR) --target run-benchmarks

fuzz:
	@scripts/install-deps.sh clang libclang-rt-14-dev
	cmake -S . -B $(FUZZ_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DQUORREL_TESTS=OFF \
		-DQUORREL_FUZZ=ON -DQUORREL_SANITIZE=ON $(LAUNCHER) $(CMAKE_FLAGS)
	cmake --build $(FUZZ_DIR) -j $(JOBS) --target fuzz-targets
	scripts/run-fuzz.sh $(FUZZ_DIR)/tests/fuzz $(FUZZ_SECONDS)

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build
