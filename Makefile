# Single entry point: make test, make release, make bench (and make fuzz).
SHELL := /bin/bash
NPROC := $(shell nproc)

# A fresh clone in another folder (CI's) hits the same ccache entries.
export CCACHE_BASEDIR := $(CURDIR)
export CCACHE_NOHASHDIR := 1

# Tests start python3 hundreds of times; a version-manager shim ahead of the
# system interpreter costs over a second a start on a loaded machine.
export PATH := /usr/bin:$(PATH)

CMAKE_COMMON := -G Ninja -DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache

.PHONY: test release bench run fuzz setup clean

setup:
	@scripts/setup

test: setup
	@cmake -S . -B build $(CMAKE_COMMON) -DCMAKE_BUILD_TYPE=Debug -DRUVA_SANITIZE=ON -DRUVA_WERROR=ON >/dev/null
	@cmake --build build
	@cd build && ctest --output-on-failure -j$(NPROC)

release: setup
	@cmake -S . -B build-release $(CMAKE_COMMON) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRUVA_WERROR=ON >/dev/null
	@cmake --build build-release

bench: release
	@for b in build-release/bench/*_bench; do echo "== $$b"; "$$b" || exit 1; done

# The daemon over the sample libraries, on 127.0.0.1:9229 or the next free port,
# and lighttpd serving kivoserv, on 127.0.0.1:8080 or the next free port.
run: release
	@scripts/run build-release/run 9229 build-release/bmod/unzipd/ruvadaemon build-release/bmod/ruvaserv/kivoserv

# libFuzzer targets with clang, outside make test and CI; FUZZ_SECONDS per target.
FUZZ_SECONDS ?= 60
fuzz:
	@scripts/setup clang-14 libclang-rt-14-dev
	@cmake -S . -B build-fuzz $(CMAKE_COMMON) -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
		-DCMAKE_BUILD_TYPE=Debug -DRUVA_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
	@cmake --build build-fuzz --target fuzz_targets
	@FUZZ_SECONDS=$(FUZZ_SECONDS) fuzz/run.sh build-fuzz

clean:
	rm -rf build build-release build-fuzz
