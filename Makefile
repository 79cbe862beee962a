# Wraps CMake: `make run` and `make test` install what is missing, build and go.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps test-deps configure build run test bench clean

all: build

deps:
	@bash tools/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j$(JOBS)

# The program writes its runtime files into its working directory: give it one of its own.
# With no unit plugged in, the demo build stands in: the same program with a simulated unit.
run: build
	@mkdir -p $(BUILD)/run
	@if bash tools/find-unit.sh >/dev/null; then \
	  cd $(BUILD)/run && ../src/TalvoUpdater; \
	else \
	  echo "No Talvo unit plugged in: starting the demo against a simulated unit."; \
	  cd $(BUILD)/run && ../tools/demo/talvo-updater-demo; \
	fi

# The wine tests run the Windows code: `make test` installs wine for them.
test-deps: deps
	@bash tools/install-deps.sh wine

test: test-deps build
	@cd $(BUILD) && ctest --output-on-failure -j$(JOBS)

# One table of the program's figures, measured in one run (about two minutes: two paced installations).
bench: build
	@$(BUILD)/bench/bench_bsl

clean:
	@rm -rf $(BUILD)
