# Thin wrapper around CMake. `make run` and `make test` do all set-up on a fresh machine.
BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc)
ROM_SRC    ?= $(if $(ARVELO_ROM_DIR),$(ARVELO_ROM_DIR),rom)

.PHONY: all deps build build-asan run test test-asan test-slow bench clean

all: build

deps:
	@scripts/install-deps.sh

build: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

build-asan: deps
	@CC=clang CXX=clang++ cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug \
	    -DARVELO_SANITIZE=ON -DARVELO_FUZZ=ON -DARVELO_HOST=ON >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)

run: build
	@scripts/install-roms.sh "$(ROM_SRC)" "$(BUILD)/bin/rom"
	cd $(BUILD)/bin && ./arvelo $(ARGS)

# Every test: unit tests and fuzz smoke runs under AddressSanitizer + UBSan, then the
# CPU-bound suites and the whole-program checks on the optimised build.
test: build build-asan
	@ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	    ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS)
	@ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS) -R 'Slow|^e2e\.'

bench: build
	@for b in $(BUILD)/bin/bench_*; do [ -x "$$b" ] && "$$b"; done; true

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
