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
FUZZERS = fuzz_config fuzz_packet fuzz_packetfile fuzz_elements fuzz_date fuzz_qlrproduct fuzz_pktscan
# Any sanitizer report fails the run; leaks are reported too.
export ASAN_OPTIONS  ?= detect_leaks=1:abort_on_error=0:halt_on_error=1
export UBSAN_OPTIONS ?= print_stacktrace=1:halt_on_error=1

# Installation: `make install PREFIX=... DESTDIR=...`. What is installed comes
# from these lists only; names that do not exist (yet) are skipped.
PREFIX  ?= /usr/local
DESTDIR ?=
BINDIR   = $(PREFIX)/bin
MANDIR   = $(PREFIX)/share/man
SHAREDIR = $(PREFIX)/share/trokproc
# Programs built in $(BUILD)/.
INSTALL_PROGRAMS = trokproc pgsentry trokgen qlrdump pktscan qlrplot trokcampaign
# Scripts from the source tree, installed next to the programs.
INSTALL_SCRIPTS  = jobs/trokjob jobs/trokparallel
# Other files from the source tree, installed into $(SHAREDIR).
INSTALL_SHARED   = jobs/trokarray.sbatch examples/configfile
# Manual pages: every page in man/ (section from the file name).
INSTALL_MANPAGES = $(sort $(wildcard man/*.[1-9]))

.PHONY: all build test demo deps demo-deps clean slurm-deps test-slurm sanitize-build test-sanitize fuzz-deps fuzz-build fuzz fuzz-program
.PHONY: install install-files uninstall install-manifest

all: build

# Installs what a fresh Debian machine lacks (as root), or says what to run.
deps:
	@missing=""; optional=""; \
	command -v g++   >/dev/null || missing="$$missing g++"; \
	command -v cmake >/dev/null || missing="$$missing cmake"; \
	[ -f /usr/include/gtest/gtest.h ] || missing="$$missing libgtest-dev"; \
	[ -f /usr/include/sqlite3.h ] || missing="$$missing libsqlite3-dev"; \
	command -v gnuplot >/dev/null || missing="$$missing gnuplot-nox"; \
	command -v parallel >/dev/null || missing="$$missing parallel"; \
	[ -x /usr/bin/python3 ] || missing="$$missing python3"; \
	command -v groff >/dev/null || optional="$$optional groff"; \
	command -v man   >/dev/null || optional="$$optional man-db"; \
	/usr/bin/python3 -c 'import pyorbital' 2>/dev/null || optional="$$optional python3-pyorbital"; \
	[ -f /usr/share/zoneinfo/leap-seconds.list ] || optional="$$optional tzdata"; \
	if [ -n "$$missing$$optional" ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y $$missing $$optional; \
	  elif [ -n "$$missing" ]; then \
	    echo "missing:$$missing$$optional; run: sudo apt-get install -y$$missing$$optional"; exit 1; \
	  else \
	    echo "tests of manual pages and element files skip without:$$optional; run: sudo apt-get install -y$$optional"; \
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

# Slurm and munge for the job-array tests (daemons started by the test itself).
slurm-deps:
	@missing=""; \
	PATH=$$PATH:/usr/sbin; \
	for p in slurmctld slurmd sbatch sacct; do command -v $$p >/dev/null || missing=slurm-wlm; done; \
	command -v munged >/dev/null || missing="$$missing munge"; \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y $$missing; \
	  else \
	    echo "missing: $$missing; run: sudo apt-get install -y $$missing"; exit 1; \
	  fi; \
	fi

# jobs/trokarray.sbatch on a single-node Slurm cluster started (and stopped)
# by the test on 127.0.0.1.
test-slurm: build slurm-deps
	PATH=$$PATH:/usr/sbin bash tests/slurm/test_slurm.sh $(BUILD) $(BUILD)/testtmp/slurm

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

# Brings the build up to date (a first build goes through `make build`, with
# its set-up), then installs the listed files that exist.
install:
	@if [ -f $(BUILD)/CMakeCache.txt ]; then cmake --build $(BUILD) -j $(JOBS) >/dev/null; \
	else $(MAKE) --no-print-directory build; fi
	@$(MAKE) --no-print-directory install-files

# The same without building: the programs must already be in $(BUILD)/.
install-files:
	@test -x $(BUILD)/trokproc || { echo "install: $(BUILD)/trokproc is missing: run make first"; exit 1; }
	@set -e; \
	for p in $(INSTALL_PROGRAMS); do \
	  if [ -f $(BUILD)/$$p ]; then install -D -m 755 $(BUILD)/$$p "$(DESTDIR)$(BINDIR)/$$p"; fi; \
	done; \
	for s in $(INSTALL_SCRIPTS); do \
	  if [ -f $$s ]; then install -D -m 755 $$s "$(DESTDIR)$(BINDIR)/$${s##*/}"; fi; \
	done; \
	for f in $(INSTALL_SHARED); do \
	  if [ -f $$f ]; then install -D -m 644 $$f "$(DESTDIR)$(SHAREDIR)/$${f##*/}"; fi; \
	done; \
	for m in $(INSTALL_MANPAGES); do \
	  n=$${m##*/}; install -D -m 644 $$m "$(DESTDIR)$(MANDIR)/man$${n##*.}/$$n"; \
	done

# Removes what install-files would install.
uninstall:
	@$(MAKE) --no-print-directory -s install-manifest | while read -r f; do rm -f "$(DESTDIR)$$f"; done
	@rmdir "$(DESTDIR)$(SHAREDIR)" 2>/dev/null || true

# One line per installed file: the path install-files writes (without DESTDIR).
install-manifest:
	@for p in $(INSTALL_PROGRAMS); do [ ! -f $(BUILD)/$$p ] || echo "$(BINDIR)/$$p"; done; \
	for s in $(INSTALL_SCRIPTS); do [ ! -f $$s ] || echo "$(BINDIR)/$${s##*/}"; done; \
	for f in $(INSTALL_SHARED); do [ ! -f $$f ] || echo "$(SHAREDIR)/$${f##*/}"; done; \
	for m in $(INSTALL_MANPAGES); do n=$${m##*/}; echo "$(MANDIR)/man$${n##*.}/$$n"; done

clean:
	rm -rf $(BUILD) $(SAN_BUILD) $(FUZZ_BUILD)
