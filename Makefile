# ZeltoSetup: the two commands that do all set-up on a fresh Debian machine.
#   make demo   runs the program on the bundled sample under Wine
#   make test   builds everything and passes every test
BUILD     ?= build/win
TOOLCHAIN ?= cmake/mingw-i686.cmake
CMAKE_ARGS ?=
JOBS      ?= $(shell nproc)
# make build makes the release program, which refuses to configure without a
# catalogue key (CMAKE_ARGS=-DZELTO_CATALOGUE_KEYS=<pem>). The tests, the demo
# and the benchmarks also build the development program that takes unsigned
# catalogues (their older scenarios need it) beside the sample-key program.
ALLOW_UNSIGNED ?= OFF

.PHONY: all bootstrap configure build test demo bench fuzz crash-test clean distclean test-here demo-here bench-here fuzz-here crash-test-here

all: build

bootstrap:
	@bash tools/bootstrap.sh

# Configured every time, so that a build folder the tests configured never
# turns into a release build that trusts plain HTTP.
configure: bootstrap
	cmake -S . -B $(BUILD) -DCMAKE_TOOLCHAIN_FILE=$(TOOLCHAIN) -DZELTO_ALLOW_UNSIGNED=$(ALLOW_UNSIGNED) $(CMAKE_ARGS)

test-here demo-here bench-here fuzz-here crash-test-here: ALLOW_UNSIGNED = ON

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# The tests, the demo and the benchmarks use the build whose programs run
# under Wine on this machine (tools/wine-arch.sh): build/win, or build/win64
# where the kernel runs no 32-bit code.
RUNNABLE = $(MAKE) --no-print-directory $$(bash tools/wine-arch.sh)

test: bootstrap
	@$(RUNNABLE) test-here

test-here: build
	python3 tools/check_layers.py
	FUZZ_SECONDS=30 FUZZ_WINE_SECONDS=10 bash tools/fuzz.sh
	bash tools/with-wine.sh ctest --test-dir $(BUILD) --output-on-failure

# Every fuzz target for FUZZ_SECONDS (600 by default) each.
fuzz: bootstrap
	@$(RUNNABLE) fuzz-here

fuzz-here: build
	bash tools/fuzz.sh

# The crash test's every scenario (a first install, an update, a failing
# update, a removal, and the recovery of a killed update), each killed at
# every durable step; `make test` runs the update, the removal and the
# recovery's own steps.
crash-test: bootstrap
	@$(RUNNABLE) crash-test-here

crash-test-here: build
	bash tools/with-wine.sh bash tools/kill_steps.sh

demo: bootstrap
	@$(RUNNABLE) demo-here

# The demo builds only what it runs: the program built with the sample key,
# the driver, and the sample's components and signed repository. It runs in
# a Wine prefix of its own, so that what the tests did never shows in it.
demo-here: configure
	cmake --build $(BUILD) -j $(JOBS) --target ZeltoSetupSampleKey ZeltoDriver sample_repository
	ZELTO_WINEPREFIX=$(CURDIR)/build/demo/wine bash tools/with-wine.sh bash tools/demo.sh

bench: bootstrap
	@$(RUNNABLE) bench-here

bench-here: build
	bash tools/with-wine.sh bash -c 'bash bench/download_bench.sh && bash bench/install_bench.sh && \
	  bash bench/latency_bench.sh && bash bench/catalogue_bench.sh && bash bench/startup_bench.sh && \
	  bash bench/patch_bench.sh && bash bench/hash_bench.sh && bash bench/signer_bench.sh'

clean:
	cmake --build $(BUILD) --target clean

distclean:
	rm -rf build
