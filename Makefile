# Wraps CMake: `make run` and `make test` install what is missing, build and go.
BUILD ?= build
BUILD_WIN ?= build-win
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps test-deps configure build run test test-usbstack package windows bench bench-wine clean

all: build

deps:
	@bash tools/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j$(JOBS)

# The program writes its runtime files into its working directory: give it one of its own.
# `talvo-flash --list` tells what is on the unit's ports; with no usable unit (exit status 3: none,
# 4: one that cannot be used) the demo build stands in: the same program with a simulated unit.
run: build
	@mkdir -p $(BUILD)/run
	@status=0; $(BUILD)/tools/flash/talvo-flash --list || status=$$?; \
	if [ $$status -eq 0 ]; then \
	  cd $(BUILD)/run && ../src/TalvoUpdater; \
	else \
	  if [ $$status -eq 4 ]; then \
	    echo "The Talvo unit plugged in cannot be used (see above): starting the demo against a simulated unit."; \
	  else \
	    echo "No Talvo unit plugged in: starting the demo against a simulated unit."; \
	  fi; \
	  cd $(BUILD)/run && ../tools/demo/talvo-updater-demo; \
	fi

# The Windows program, cross-built with mingw-w64 against the Qt for Windows in ../shared/windows-qt/
# (skipped, saying why, without it): $(BUILD_WIN)/dist/bin and the installer
# $(BUILD_WIN)/TalvoUpdater-<version>-win64.exe with its ZIP. The wine tests of `make test` run it.
windows:
	@JOBS=$(JOBS) bash tools/build-windows.sh $(BUILD_WIN)

# The wine tests run the Windows code, the package checks take lintian, the validators,
# hardening-check and makensis (diffoscope explains a package that differs): `make test` installs them.
test-deps: deps
	@bash tools/install-deps.sh wine packaging

test: test-deps build windows
	@cd $(BUILD) && ctest --output-on-failure -j$(JOBS) -LE usbstack

# talvo-flash against the real USB stack: every case in one QEMU guest (three to four minutes).
test-usbstack: build
	@bash tools/install-deps.sh usbstack
	@cd $(BUILD) && ctest --output-on-failure -L usbstack

# The Debian package: $(BUILD)/talvo-updater_<version>_amd64.deb.
package: build
	@cmake --build $(BUILD) --target package

# One table of the program's figures, measured in one run (about five minutes: paced installations, sixteen units at once among them).
bench: build
	@$(BUILD)/bench/bench_bsl

# The Windows serial line's wait for a byte under wine, the earlier polling read beside it (about 30 s);
# then the Windows program under wine: its installations, CPU, start and memory (about 2 minutes).
bench-wine: test-deps configure windows
	@cmake --build $(BUILD) --target bench_serialwait_wine
	@cmake --build $(BUILD) --target bench_windows_wine

clean:
	@rm -rf $(BUILD)
