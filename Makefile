# Single entry point: make test, make release, make bench.
SHELL := /bin/bash
NPROC := $(shell nproc)

# A fresh clone in another folder (CI's) hits the same ccache entries.
export CCACHE_BASEDIR := $(CURDIR)
export CCACHE_NOHASHDIR := 1

CMAKE_COMMON := -G Ninja -DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache

.PHONY: test release bench setup clean

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

clean:
	rm -rf build build-release
