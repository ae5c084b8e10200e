# What the README tells a user to type: make, make test, make demo.
BUILD ?= build
JOBS  ?= 2

.PHONY: all build test demo deps demo-deps clean

all: build

# Installs what a fresh Debian machine lacks (as root), or says what to run.
deps:
	@missing=""; \
	command -v g++   >/dev/null || missing="$$missing g++"; \
	command -v cmake >/dev/null || missing="$$missing cmake"; \
	[ -f /usr/include/gtest/gtest.h ] || missing="$$missing libgtest-dev"; \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y $$missing; \
	  else \
	    echo "missing:$$missing; run: sudo apt-get install -y$$missing"; exit 1; \
	  fi; \
	fi

build: deps
	cmake -S . -B $(BUILD) >/dev/null
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

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
	rm -rf $(BUILD)
