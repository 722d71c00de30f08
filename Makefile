# The front door: `make run` and `make test` do all of their own set-up. `make test` is
# also what CI runs (.ci/run), so every check CI makes is one a developer can repeat here.
SHELL := /bin/bash
PRESET ?= default
JOBS ?= $(shell nproc)
APP_DIR = build/$(PRESET)/bin

.PHONY: run demo server-ready test deps configure build test-preset check-format check-tidy check-labels fuzz clean

# With a display the server is a GUI application, so the signing module's dialogs can show;
# without one (-console) they cannot, and signing commands answer CANCELLED.
SERVER_MODE = $(if $(DISPLAY)$(WAYLAND_DISPLAY),,-console)
run: server-ready
	@exec $(APP_DIR)/VeltraneCryptoServer $(SERVER_MODE) -debug

# The server as `make run` starts it, and beside it the demo page with the built client on
# http://localhost:8600 (the origin signer.ini allows). Ctrl+C reaches both: they share the
# terminal's process group.
demo: server-ready
	@node examples/sign-demo/serve.mjs $(APP_DIR)/../clients/js/package/dist 8600 & \
		trap 'kill $$! 2>/dev/null' EXIT; \
		$(APP_DIR)/VeltraneCryptoServer $(SERVER_MODE) -debug

server-ready: deps
	@$(MAKE) --no-print-directory build PRESET=default
	@test -f $(APP_DIR)/certs/VYR-key-server.pem -a -f $(APP_DIR)/certs/VYR-cert-server.pem || \
		$(APP_DIR)/vyr-certgen --app-dir $(APP_DIR)

# Cheap checks first, so drift fails in seconds rather than after a build.
test: deps check-format
	@$(MAKE) --no-print-directory build PRESET=ci
	@$(MAKE) --no-print-directory check-tidy check-labels PRESET=ci
	@$(MAKE) --no-print-directory test-preset PRESET=ci
	@$(MAKE) --no-print-directory build PRESET=asan
	@$(MAKE) --no-print-directory test-preset PRESET=asan
	@$(MAKE) --no-print-directory build PRESET=fuzz
	@$(MAKE) --no-print-directory test-preset PRESET=fuzz

test-preset:
	ctest --preset $(PRESET) -j $(JOBS)

deps:
	@scripts/install-deps.sh

configure:
	@cmake --preset $(PRESET) >/dev/null

build: configure
	cmake --build --preset $(PRESET) -j $(JOBS)

# One formatter version for everyone: another major version formats differently.
check-format:
	git ls-files -z -- '*.cpp' '*.h' | xargs -0 clang-format-14 --dry-run --Werror

# .clang-tidy's checks over src/, tools/, modules/ and sdk/, with the flags of the build of
# $(PRESET), which must be there (compile_commands.json, generated headers).
check-tidy:
	scripts/check-tidy.py build/$(PRESET) $(JOBS)

# Every test carries a label of tests/VyrTesting.cmake, which bounds its time; this lists any
# test without one.
check-labels:
	@! ctest --preset $(PRESET) -N -LE . | grep -E '^ *Test +#'

# Each parser's fuzz target for FUZZ_SECONDS over its seeds (fuzz/corpus) and what earlier
# runs found (build/fuzz/fuzz-work); a crash stops the run and leaves its input there.
FUZZ_SECONDS ?= 60
FUZZ_TARGETS = $(notdir $(basename $(wildcard fuzz/*Fuzzer.cpp)))
fuzz: deps
	@$(MAKE) --no-print-directory build PRESET=fuzz
	@for target in $(FUZZ_TARGETS); do \
		echo "== $$target ($(FUZZ_SECONDS) s)"; \
		fuzz/run-fuzzer.sh build/fuzz/fuzz-bin/$$target fuzz/corpus/$$target \
			build/fuzz/fuzz-work/$$target $(FUZZ_SECONDS) || exit 1; \
	done

clean:
	rm -rf build
