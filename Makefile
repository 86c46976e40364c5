# SPDX-License-Identifier: GPL-2.0-or-later

# The two commands of the README: `make run` and `make test`. Both install
# what building and running need when it is missing (scripts/install-deps).
# `make run` then builds the program alone; `make test` builds everything
# and adds the tools the tests compare with. make fuzz and make bench
# install what they need in the same way.

# make test SANITIZE=1: everything built with AddressSanitizer and
# UndefinedBehaviorSanitizer, in a folder of its own.
ifeq ($(SANITIZE),1)
BUILD_DIR ?= build-sanitize
SANITIZE_FLAGS := -DTARNLOOK_SANITIZE=ON
endif

BUILD_DIR ?= build
CMAKE_FLAGS ?=

# make fuzz: each libFuzzer target of fuzz/ for FUZZ_SECONDS, built with clang
# in FUZZ_BUILD_DIR; new inputs and crash reproducers stay in that folder.
FUZZ_BUILD_DIR ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_TARGETS := packetrecord hextext hexdocument tcpreassembly tlshandshake tlskeylog tlsservername \
  tcpanalysis tlsrecord

.PHONY: all deps configure build run test test-deps soak translations clean fuzz fuzz-build fuzz-merge bench install package

all: build

deps:
	scripts/install-deps run

configure: deps
	cmake -S . -B $(BUILD_DIR) -G Ninja $(SANITIZE_FLAGS) $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD_DIR)

run: configure
	cmake --build $(BUILD_DIR) --target tarnlook
	$(BUILD_DIR)/src/app/tarnlook

# After CTest's summary, which names the tests that skipped as a whole, the
# functions that skipped (in any test) and why, from CTest's log.
SHOW_SKIPS := awk '/^[0-9]+\/[0-9]+ Testing: / { test = $$3 } \
  /^SKIP / { sub(/^SKIP +: /, ""); skips[++n] = "  " test ": " $$0 } \
  END { if (n) print "\nSkipped test functions, and why:"; \
        for (i = 1; i <= n; ++i) print skips[i] }' \
  Testing/Temporary/LastTest.log

# make translations: brings translations/tarnlook_en.ts up to date with the
# texts of src/ (code and forms); new texts come in unfinished.
translations: configure
	cmake --build $(BUILD_DIR) --target tarnlook_lupdate

# The test tools come first: configuring looks for the validators of the
# package tests.
test-deps:
	scripts/install-deps test

test: test-deps build
	@echo "cd $(BUILD_DIR) && ctest --output-on-failure"
	@cd $(BUILD_DIR) && { QT_QPA_PLATFORM=offscreen ctest --output-on-failure; status=$$?; \
	  $(SHOW_SKIPS); exit $$status; }

# make soak: the random use of the interface tests (ui.soak) for
# SOAK_SECONDS instead of its short run in make test; a failure prints the
# seed, which TARNLOOK_SOAK_SEED=N replays. Works with SANITIZE=1 too.
SOAK_SECONDS ?= 600

soak: test-deps build
	cd $(BUILD_DIR) && TARNLOOK_SOAK_SECONDS=$(SOAK_SECONDS) \
	  QTEST_FUNCTION_TIMEOUT=$$(( ($(SOAK_SECONDS) + 600) * 1000 )) \
	  ctest -R '^ui\.soak$$' --output-on-failure --timeout $$(( $(SOAK_SECONDS) + 900 ))

# make install PREFIX=/opt/tarnlook: bin/tarnlook, lib/tarnlook/tarnlook-capture,
# the desktop entry, icons and metainfo under share/. Capturing as a user
# then needs what the package's postinst does (packaging/debian/postinst).
PREFIX ?= /usr/local

install: build
	cmake --install $(BUILD_DIR) --prefix $(PREFIX)

# make package: $(PACKAGE_DIR)/tarnlook_<version>_<arch>.deb, for
# sudo apt install ./build-package/tarnlook_*.deb. A build of its own,
# configured for /usr, where the package puts the programs: the window looks
# for tarnlook-capture under its configured prefix.
PACKAGE_DIR ?= build-package

package: deps
	cmake -S . -B $(PACKAGE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON $(CMAKE_FLAGS)
	cmake --build $(PACKAGE_DIR) --target tarnlook tarnlook-capture tarnlook_packaging
	cd $(PACKAGE_DIR) && cpack -G DEB

fuzz-build:
	scripts/install-deps fuzz
	cmake -S . -B $(FUZZ_BUILD_DIR) -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DTARNLOOK_FUZZ=ON
	cmake --build $(FUZZ_BUILD_DIR) --target $(addprefix fuzz_,$(FUZZ_TARGETS))

# The folder in the build tree comes first, so that libFuzzer writes new
# inputs there and reads the repository's corpus as seeds only.
fuzz: fuzz-build
	set -e; for t in $(FUZZ_TARGETS); do \
	  mkdir -p $(FUZZ_BUILD_DIR)/corpus/$$t $(FUZZ_BUILD_DIR)/artifacts; \
	  $(FUZZ_BUILD_DIR)/fuzz/fuzz_$$t -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
	    -artifact_prefix=$(FUZZ_BUILD_DIR)/artifacts/$$t- \
	    $(FUZZ_BUILD_DIR)/corpus/$$t fuzz/corpus/$$t; \
	done

# Adds to the repository's corpus the inputs of the last runs that reach code
# it does not (edges only, which keeps it short).
fuzz-merge: fuzz-build
	set -e; for t in $(FUZZ_TARGETS); do \
	  $(FUZZ_BUILD_DIR)/fuzz/fuzz_$$t -merge=1 -use_counters=0 \
	    -artifact_prefix=$(FUZZ_BUILD_DIR)/ \
	    fuzz/corpus/$$t $(FUZZ_BUILD_DIR)/corpus/$$t; \
	done

# make bench: the benchmarks of bench/, built for speed in BENCH_DIR, run by
# scripts/run-benchmarks, which writes bench/RESULTS.md. Never part of test.
BENCH_DIR ?= build-bench

bench:
	scripts/install-deps bench
	cmake -S . -B $(BENCH_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARNLOOK_BENCH=ON
	cmake --build $(BENCH_DIR)
	BENCH_DIR=$(BENCH_DIR) scripts/run-benchmarks

clean:
	rm -rf $(BUILD_DIR)
