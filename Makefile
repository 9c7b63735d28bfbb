# Top-level entry points. `make test` and `make demo` are all a new checkout needs.
SHELL := /bin/bash
JOBS  ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all test demo bench scale fuzz dist kit-trial bootstrap configure build build-host build-win32 clean

all: build

bootstrap:
	@scripts/bootstrap.sh

configure: bootstrap
	@cmake --preset host  >build-host-configure.log 2>&1 || { cat build-host-configure.log; exit 1; }
	@cmake --preset win32 >build-win32-configure.log 2>&1 || { cat build-win32-configure.log; exit 1; }
	@rm -f build-host-configure.log build-win32-configure.log

build-host: configure
	@cmake --build --preset host -j $(JOBS)

# The win32 tree embeds the payload with the host tree's kmarc.
build-win32: configure build-host
	@cmake --build --preset win32 -j $(JOBS)

build: build-host build-win32

# Both trees' tests; the summary counts the test cases of every executable.
test: build
	@status=0; \
	echo "== host tree (AddressSanitizer, UndefinedBehaviorSanitizer) =="; \
	ctest --preset host -j $(JOBS) || status=1; \
	echo "== win32 tree (under Wine) =="; \
	ctest --preset win32 -j $(JOBS) || status=1; \
	build/win32/wine-run --shutdown; \
	scripts/test-summary.sh build/host build/win32 || status=1; \
	exit $$status

demo: build
	@scripts/demo.sh

# The packager's kit: the launcher without payload, kmarc for Linux and Windows.
dist: configure
	@JOBS=$(JOBS) scripts/dist.sh

# A vendor's first setup with nothing but the kit, run under Wine end to end, with a
# branded splash and screenshots (build/kit-trial/).
kit-trial: dist
	@tests/kit/kit-trial.sh

fuzz: build-host
	@scripts/fuzz.sh build/host $${FUZZ_SECONDS:-300}

bench: bootstrap
	@if [ -x bench/run.sh ]; then bench/run.sh; else echo "no benchmarks yet"; fi

# embed of a payload of over 1 GiB by both kmarcs, with peak memory, beside makensis.
scale: bootstrap
	@bench/scale.sh

clean:
	@if [ -x build/win32/wine-run ]; then build/win32/wine-run --shutdown; fi
	@# A killed extraction test can leave its read-only scratch file immutable.
	@find build -name readonly.txt -path '*extract-scratch*' -exec chattr -i {} + 2>/dev/null || true
	rm -rf build dist
