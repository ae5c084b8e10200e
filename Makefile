# What the README tells a user to type: make, make test, make demo.
BUILD ?= build
JOBS  ?= 2

.PHONY: all build test demo deps clean

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

demo: build
	cd examples && ../$(BUILD)/trokproc -configfile ./configfile -listconfig yes

clean:
	rm -rf $(BUILD)
