# make test   set up everything (packages, locale, libcurl, Wine), build the three trees, run every test
# make run    set up, build, start the report service and run the program under Wine
# make build  set up and build the three trees
# make fuzz   build the libFuzzer targets and run each for FUZZ_SECONDS (default 60)
SHELL := /bin/bash
export DEPS_CACHE ?= $(HOME)/.cache/zorv-deps
# Paths relative to the clone, so a second clone (CI's) reuses what this one compiled.
export CCACHE_BASEDIR ?= $(CURDIR)
export CCACHE_NOHASHDIR ?= 1
CURL64 = $$(tools/build-curl.sh x86_64)
CURL32 = $$(tools/build-curl.sh i686)
ACCOUNT ?= player1
FUZZ_SECONDS ?= 60
# make test runs each fuzz target this long, as a smoke test.
FUZZ_SMOKE_SECONDS ?= 3
SANITIZE = -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer

.PHONY: setup build build-host build-win64 build-win32 build-asan build-fuzz test test-host test-win64 test-win32 \
        test-asan test-fuzz fuzz run clean

setup:
	@tools/setup.sh

build: setup build-host build-win64 build-win32 build-asan build-fuzz

build-host:
	@echo "==> building build/host"
	@cmake -S . -B build/host -G Ninja >/dev/null
	@cmake --build build/host

build-win64:
	@echo "==> building build/win64"
	@cmake -S . -B build/win64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DZORV_CURL_ROOT=$(CURL64) >/dev/null
	@cmake --build build/win64

build-win32:
	@echo "==> building build/win32"
	@cmake -S . -B build/win32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DZORV_CURL_ROOT=$(CURL32) >/dev/null
	@cmake --build build/win32

# The native suites again, built with AddressSanitizer and UndefinedBehaviorSanitizer.
build-asan:
	@echo "==> building build/asan (native suites with AddressSanitizer and UndefinedBehaviorSanitizer)"
	@cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS="-O1 $(SANITIZE)" \
	  -DCMAKE_C_FLAGS="-O1 $(SANITIZE)" -DCMAKE_EXE_LINKER_FLAGS="$(SANITIZE)" >/dev/null
	@cmake --build build/asan --target unit_tests service_tests staff_tests

# The libFuzzer targets (fuzz/), with clang.
build-fuzz:
	@echo "==> building build/fuzz (libFuzzer targets)"
	@cmake -S fuzz -B build/fuzz -G Ninja -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 >/dev/null
	@cmake --build build/fuzz

fuzz: setup build-fuzz
	@tools/fuzz.sh $(FUZZ_SECONDS)

# Each tree's tests; the last lines are CTest's summaries. All run even when one fails.
test: build
	@rc=0; \
	$(MAKE) --no-print-directory test-win32 || rc=1; \
	$(MAKE) --no-print-directory test-win64 || rc=1; \
	$(MAKE) --no-print-directory test-asan || rc=1; \
	$(MAKE) --no-print-directory test-fuzz || rc=1; \
	$(MAKE) --no-print-directory test-host || rc=1; \
	exit $$rc

test-asan:
	@echo "==> testing build/asan (native suites under AddressSanitizer and UndefinedBehaviorSanitizer)"
	@rc=0; export ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1; \
	for t in build/asan/tests/unit_tests build/asan/tests/service/service_tests build/asan/tests/service/staff_tests; do \
	  $$t --gtest_brief=1 >build/asan/$${t##*/}.log 2>&1 && grep -a 'PASSED' build/asan/$${t##*/}.log | tail -1 \
	    || { rc=1; echo "$$t FAILED:"; grep -a -E -A12 'Failure|ERROR: |runtime error|FAILED' build/asan/$${t##*/}.log | head -60; }; \
	done; exit $$rc

test-fuzz:
	@echo "==> fuzzing build/fuzz, $(FUZZ_SMOKE_SECONDS) s per target (make fuzz runs longer)"
	@tools/fuzz.sh $(FUZZ_SMOKE_SECONDS)

test-host:
	@echo "==> testing build/host (native)"
	@cd build/host && ctest --output-on-failure -j2

test-win64:
	@echo "==> testing build/win64 (under Wine)"
	@tools/wine-env.sh up
	@rc=0; (cd build/win64 && ctest --output-on-failure -j2 -LE e2e) || rc=$$?; tools/wine-env.sh down; \
	echo "==> end-to-end flows of build/win64, in a fresh Wine session"; \
	tools/wine-env.sh up; (cd build/win64 && ctest --output-on-failure -L e2e) || rc=$$?; \
	tools/wine-env.sh down; exit $$rc

test-win32:
	@echo "==> testing build/win32 (under Wine: WoW64 in a 64-bit prefix, and a 32-bit prefix)"
	@tools/wine-env.sh up && ZORV_WINE_ARCH=win32 tools/wine-env.sh up
	@rc=0; (cd build/win32 && ctest --output-on-failure -j2 -LE e2e) || rc=$$?; \
	tools/wine-env.sh down; ZORV_WINE_ARCH=win32 tools/wine-env.sh down; \
	echo "==> end-to-end flows of build/win32, in a fresh Wine session"; \
	tools/wine-env.sh up; (cd build/win32 && ctest --output-on-failure -L e2e) || rc=$$?; \
	tools/wine-env.sh down; exit $$rc

run: setup build-host build-win64
	@tools/run.sh "$(ACCOUNT)"

clean:
	rm -rf build
