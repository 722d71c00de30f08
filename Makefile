# The front door: `make run` and `make test` do all of their own set-up.
SHELL := /bin/bash
PRESET ?= default
JOBS ?= $(shell nproc)
APP_DIR = build/$(PRESET)/bin

.PHONY: run test deps configure build test-default test-asan clean

run: deps
	@$(MAKE) --no-print-directory build PRESET=default
	@test -f $(APP_DIR)/certs/VYR-key-server.pem -a -f $(APP_DIR)/certs/VYR-cert-server.pem || \
		$(APP_DIR)/vyr-certgen --app-dir $(APP_DIR)
	@exec $(APP_DIR)/VeltraneCryptoServer -console -debug

test: deps
	@$(MAKE) --no-print-directory test-default
	@$(MAKE) --no-print-directory test-asan

test-default:
	@$(MAKE) --no-print-directory build PRESET=default
	ctest --preset default -j $(JOBS)

test-asan:
	@$(MAKE) --no-print-directory build PRESET=asan
	ctest --preset asan -j $(JOBS)

deps:
	@scripts/install-deps.sh

configure:
	@cmake --preset $(PRESET) >/dev/null

build: configure
	cmake --build --preset $(PRESET) -j $(JOBS)

clean:
	rm -rf build
