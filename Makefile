# The two everyday commands: `make run` and `make test`. Each sets up what is
# missing (Debian packages, the build folder), builds, and then runs.
BUILD_DIR ?= build
JOBS ?= $(shell nproc)
# CI treats compiler warnings as errors.
WERROR := $(if $(CI),ON,OFF)
# Extra options for the engine, e.g. make run ARGS="--exec cvarlist".
ARGS ?=

.PHONY: all deps configure build run test clean

all: build

deps:
	@scripts/install-deps

configure: deps
	@if [ ! -f $(BUILD_DIR)/build.ninja ]; then \
	  cmake -S . -B $(BUILD_DIR) -G Ninja -DOSPREL_WERROR=$(WERROR); \
	elif [ -n "$(CI)" ]; then \
	  cmake -S . -B $(BUILD_DIR) -DOSPREL_WERROR=$(WERROR) >/dev/null; \
	fi

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	$(BUILD_DIR)/osprel $(ARGS)

test: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD_DIR)
