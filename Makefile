# make test   set up everything (packages, locale, libcurl, Wine), build the three trees, run every test
# make run    set up, build, start the report service and run the program under Wine
# make build  set up and build the three trees
SHELL := /bin/bash
export DEPS_CACHE ?= $(HOME)/.cache/zorv-deps
CURL64 = $$(tools/build-curl.sh x86_64)
CURL32 = $$(tools/build-curl.sh i686)
ACCOUNT ?= player1

.PHONY: setup build build-host build-win64 build-win32 test test-host test-win64 test-win32 run clean

setup:
	@tools/setup.sh

build: setup build-host build-win64 build-win32

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

# Each tree's tests; the last lines are CTest's summaries. All three run even when one fails.
test: build
	@rc=0; \
	$(MAKE) --no-print-directory test-win32 || rc=1; \
	$(MAKE) --no-print-directory test-win64 || rc=1; \
	$(MAKE) --no-print-directory test-host || rc=1; \
	exit $$rc

test-host:
	@echo "==> testing build/host (native)"
	@cd build/host && ctest --output-on-failure -j2

test-win64:
	@echo "==> testing build/win64 (under Wine)"
	@tools/wine-env.sh up
	@rc=0; (cd build/win64 && ctest --output-on-failure -j2) || rc=$$?; tools/wine-env.sh down; exit $$rc

test-win32:
	@echo "==> testing build/win32 (under Wine: WoW64 in a 64-bit prefix, and a 32-bit prefix)"
	@tools/wine-env.sh up && ZORV_WINE_ARCH=win32 tools/wine-env.sh up
	@rc=0; (cd build/win32 && ctest --output-on-failure -j2) || rc=$$?; \
	tools/wine-env.sh down; ZORV_WINE_ARCH=win32 tools/wine-env.sh down; exit $$rc

run: setup build-host build-win64
	@tools/run.sh "$(ACCOUNT)"

clean:
	rm -rf build
