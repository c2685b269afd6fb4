# Tolvane — top-level commands. See README.md.
BUILD      ?= build
PREFIX     ?= /usr/local
GENERATOR  := $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")
JOBS       ?= $(shell nproc)

.PHONY: all deps configure build run test bench install fuzz clean format

all: build

deps:
	@scripts/install-deps.sh

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo

configure: deps $(BUILD)/CMakeCache.txt

build: configure
	cmake --build $(BUILD) -j $(JOBS)

run: build
	@scripts/run.sh $(BUILD)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 600

bench: deps
	cmake -S . -B build-bench $(GENERATOR) -DCMAKE_BUILD_TYPE=Release -DTOLVANE_TESTS=OFF \
	      -DTOLVANE_BENCH=ON
	cmake --build build-bench -j $(JOBS)
	bench/run.sh build-bench

install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B build-fuzz $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	      -DTOLVANE_TESTS=OFF -DTOLVANE_FUZZ=ON
	cmake --build build-fuzz -j $(JOBS)
	@echo "Fuzz targets are in build-fuzz/fuzz/; run one with e.g. build-fuzz/fuzz/fuzz_wav_reader -max_total_time=60"

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) build-bench build-fuzz
