# What the README tells a user to type: make, make test, make demo.
BUILD ?= build
JOBS  ?= 2
# Sanitizer (AddressSanitizer + UBSan) and libFuzzer builds.
SAN_BUILD  ?= build-sanitize
FUZZ_BUILD ?= build-fuzz
# Seconds per libFuzzer target, and whole-program runs, for `make fuzz`.
FUZZ_TIME  ?= 25
FUZZ_RUNS  ?= 150
FUZZ_SEED  ?= 1
FUZZERS = fuzz_config fuzz_packet fuzz_packetfile fuzz_elements fuzz_date fuzz_qlrproduct
# Any sanitizer report fails the run; leaks are reported too.
export ASAN_OPTIONS  ?= detect_leaks=1:abort_on_error=0:halt_on_error=1
export UBSAN_OPTIONS ?= print_stacktrace=1:halt_on_error=1

.PHONY: all build test demo deps demo-deps clean sanitize-build test-sanitize fuzz-deps fuzz-build fuzz fuzz-program

all: build

# Installs what a fresh Debian machine lacks (as root), or says what to run.
deps:
	@missing=""; \
	command -v g++   >/dev/null || missing="$$missing g++"; \
	command -v cmake >/dev/null || missing="$$missing cmake"; \
	[ -f /usr/include/gtest/gtest.h ] || missing="$$missing libgtest-dev"; \
	command -v gnuplot >/dev/null || missing="$$missing gnuplot-nox"; \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y $$missing; \
	  else \
	    echo "missing:$$missing; run: sudo apt-get install -y$$missing"; exit 1; \
	  fi; \
	fi
	@# qlrplot's page is also tested in headless Chromium; without it that one test is skipped.
	@if [ ! -x /usr/bin/chromium ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    (apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y chromium) >/dev/null \
	      || echo "could not install chromium: the browser test of qlrplot's page is skipped"; \
	  else \
	    echo "chromium missing: the browser test of qlrplot's page is skipped (sudo apt-get install -y chromium)"; \
	  fi; \
	fi

build: deps
	cmake -S . -B $(BUILD) >/dev/null
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The library, the programs and every test built with the sanitizers.
sanitize-build: deps
	cmake -S . -B $(SAN_BUILD) -DTROK_SANITIZE=ON >/dev/null
	cmake --build $(SAN_BUILD) -j $(JOBS)

test-sanitize: sanitize-build
	cd $(SAN_BUILD) && ctest --output-on-failure -j $(JOBS)

# clang with the libFuzzer runtime (Debian: clang, libclang-rt-dev).
fuzz-deps: deps
	@probe=$$(mktemp -d); \
	echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }' \
	  > $$probe/probe.cpp; \
	if ! clang++ -fsanitize=fuzzer,address,undefined $$probe/probe.cpp -o $$probe/probe 2>/dev/null; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y clang libclang-rt-dev; \
	  else \
	    echo "missing: clang with libFuzzer; run: sudo apt-get install -y clang libclang-rt-dev"; \
	    rm -rf $$probe; exit 1; \
	  fi; \
	fi; \
	rm -rf $$probe

fuzz-build: fuzz-deps
	cmake -S . -B $(FUZZ_BUILD) -DTROK_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ >/dev/null
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzzers

# A short run of every libFuzzer target from seeds made by code, then the
# whole-program fuzz run. Any crash, sanitizer report or time-out fails.
fuzz: fuzz-build
	rm -rf $(FUZZ_BUILD)/seeds && $(FUZZ_BUILD)/fuzz_seeds $(FUZZ_BUILD)/seeds
	@set -e; for t in $(FUZZERS); do \
	  mkdir -p $(FUZZ_BUILD)/corpus/$$t $(FUZZ_BUILD)/artifacts/$$t; \
	  echo "== $$t ($(FUZZ_TIME) s)"; \
	  status=0; \
	  $(FUZZ_BUILD)/$$t -max_total_time=$(FUZZ_TIME) -timeout=10 -rss_limit_mb=2048 -seed=$(FUZZ_SEED) \
	    -print_final_stats=1 -artifact_prefix=$(FUZZ_BUILD)/artifacts/$$t/ \
	    $(FUZZ_BUILD)/corpus/$$t $(FUZZ_BUILD)/seeds/$$t > $(FUZZ_BUILD)/$$t.log 2>&1 || status=$$?; \
	  grep -E '^(#[0-9]+ +DONE|stat::number_of_executed_units|SUMMARY)' $(FUZZ_BUILD)/$$t.log || true; \
	  if [ $$status != 0 ]; then tail -n 60 $(FUZZ_BUILD)/$$t.log; echo "$$t: fault found (status $$status)"; exit 1; fi; \
	done
	$(MAKE) fuzz-program

# Mutated real inputs through the sanitizer-built trokproc.
fuzz-program: sanitize-build
	python3 tools/fuzzrun.py --trokproc $(SAN_BUILD)/trokproc --trokgen $(SAN_BUILD)/trokgen \
	  --runs $(FUZZ_RUNS) --seed $(FUZZ_SEED) --workdir $(SAN_BUILD)/fuzzrun

# The demo's plots need gnuplot; without it the demo runs and skips them.
demo-deps:
	@command -v gnuplot >/dev/null || { \
	  if [ "$$(id -u)" = 0 ]; then \
	    (apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y gnuplot-nox) >/dev/null \
	      || echo "could not install gnuplot-nox: the demo runs without plots"; \
	  else \
	    echo "gnuplot missing: run sudo apt-get install -y gnuplot-nox for the demo's plots"; \
	  fi; \
	}

# A simulated day through trokproc, checked, summarised and plotted (examples/out/).
demo: build demo-deps
	BUILD=$(BUILD) tools/demo.sh

clean:
	rm -rf $(BUILD) $(SAN_BUILD) $(FUZZ_BUILD)
