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
FUZZERS = fuzz_config fuzz_packet fuzz_packetfile fuzz_elements fuzz_date fuzz_qlrproduct fuzz_pktscan fuzz_pktmerge
# Any sanitizer report fails the run; leaks are reported too.
export ASAN_OPTIONS  ?= detect_leaks=1:abort_on_error=0:halt_on_error=1
export UBSAN_OPTIONS ?= print_stacktrace=1:halt_on_error=1

# The set-up every build starts with (make demo and make test add theirs);
# `make test DEPS=` skips all of it (CI does, in a namespace where the
# system's leap-second table is hidden).
DEPS ?= deps
# The tests' own leap-second table and "today" (as CMakeLists.txt sets them for
# ctest), for the tests run from here.
TEST_LEAP_ENV = TROK_LEAPSECONDS=$(CURDIR)/tests/leap-seconds.list TROK_LEAPSECONDS_NOW=1780272000

# Installation: `make install PREFIX=... DESTDIR=...` runs `cmake --install`;
# what is installed is in the install() rules of CMakeLists.txt.
PREFIX  ?= /usr/local
DESTDIR ?=

.PHONY: all build test demo deps demo-deps test-deps clean slurm-deps test-slurm sanitize-build test-sanitize fuzz-deps fuzz-build fuzz fuzz-program
.PHONY: install install-files uninstall install-manifest

all: build

# The set-up steps run apt-get as root: APT_WAIT first waits (up to 10
# minutes) while another installation holds a package lock, saying so, since
# apt-get update fails at once on a held lock; apt-get itself then waits for
# the dpkg lock (DPkg::Lock::Timeout) and says so too.
APT_GET  = DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600
APT_WAIT = for i in $$(seq 120); do \
	  lslocks -n -o PATH 2>/dev/null | grep -qxE '/var/lib/(dpkg/lock(-frontend)?|apt/lists/lock)' || break; \
	  [ $$i != 1 ] || echo "set-up: another installation holds the package lock; waiting for it (up to 10 minutes)"; \
	  sleep 5; \
	done
# The set-up: tools/setup.sh installs what a fresh Debian machine lacks for
# the build, the demo or the tests (as root), or prints the command to run.
deps:
	@sh tools/setup.sh build

demo-deps:
	@sh tools/setup.sh demo

test-deps:
	@sh tools/setup.sh test

build: $(DEPS)
	cmake -S . -B $(BUILD) >/dev/null
	cmake --build $(BUILD) -j $(JOBS)

test: $(if $(DEPS),test-deps) build
	cd $(BUILD) && ctest --output-on-failure --no-tests=error -j $(JOBS)

# Slurm and munge for the job-array tests (daemons started by the test itself).
slurm-deps:
	@missing=""; \
	PATH=$$PATH:/usr/sbin; \
	for p in slurmctld slurmd sbatch sacct; do command -v $$p >/dev/null || missing=slurm-wlm; done; \
	command -v munged >/dev/null || missing="$$missing munge"; \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    $(APT_WAIT); \
	    $(APT_GET) update && $(APT_GET) install -y $$missing; \
	  else \
	    echo "missing: $$missing; run: sudo apt-get install -y $$missing"; exit 1; \
	  fi; \
	fi

# jobs/trokarray.sbatch and trokcampaign's Slurm engine on a single-node
# Slurm cluster started (and stopped) by the test on 127.0.0.1.
test-slurm: build slurm-deps
	PATH=$$PATH:/usr/sbin $(TEST_LEAP_ENV) bash tests/slurm/test_slurm.sh $(BUILD) $(BUILD)/testtmp/slurm

# The library, the programs and every test built with the sanitizers.
sanitize-build: $(if $(DEPS),test-deps) $(DEPS)
	cmake -S . -B $(SAN_BUILD) -DTROK_SANITIZE=ON >/dev/null
	cmake --build $(SAN_BUILD) -j $(JOBS)

test-sanitize: sanitize-build
	cd $(SAN_BUILD) && ctest --output-on-failure -j $(JOBS)

# clang with the libFuzzer runtime (Debian: clang, libclang-rt-dev).
fuzz-deps: $(DEPS)
	@probe=$$(mktemp -d); \
	echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }' \
	  > $$probe/probe.cpp; \
	if ! clang++ -fsanitize=fuzzer,address,undefined $$probe/probe.cpp -o $$probe/probe 2>/dev/null; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    $(APT_WAIT); \
	    $(APT_GET) update && $(APT_GET) install -y clang libclang-rt-dev; \
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

# A simulated day through trokproc, checked, summarised and plotted (examples/out/).
demo: $(if $(DEPS),demo-deps) build
	BUILD=$(BUILD) tools/demo.sh

# Brings the build up to date (a first build goes through `make build`, with
# its set-up), then installs.
install:
	@if [ -f $(BUILD)/CMakeCache.txt ]; then cmake --build $(BUILD) -j $(JOBS) >/dev/null; \
	else $(MAKE) --no-print-directory build; fi
	@$(MAKE) --no-print-directory install-files

# The same without building: the programs must already be in $(BUILD)/.
install-files:
	@test -f $(BUILD)/CMakeCache.txt || { echo "install: $(BUILD) is not configured: run make first"; exit 1; }
	@DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)" >/dev/null

# Removes what install-files would install.
uninstall:
	@$(MAKE) --no-print-directory -s install-manifest | while read -r f; do rm -f "$(DESTDIR)$$f"; done
	@rmdir "$(DESTDIR)$(PREFIX)/share/trokproc" 2>/dev/null || true

# One line per installed file: the path install-files writes (without
# DESTDIR), from an install into a scratch folder.
install-manifest:
	@test -f $(BUILD)/CMakeCache.txt || { echo "install-manifest: $(BUILD) is not configured: run make first"; exit 1; }
	@stage=$$(mktemp -d) && trap 'rm -rf "$$stage"' EXIT && \
	DESTDIR="$$stage" cmake --install $(BUILD) --prefix "$(PREFIX)" >/dev/null && \
	(cd "$$stage" && find . ! -type d | sed 's/^\.//' | LC_ALL=C sort)

clean:
	rm -rf $(BUILD) $(SAN_BUILD) $(FUZZ_BUILD)
