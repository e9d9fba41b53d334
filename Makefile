# Thin wrappers over CMake.
#   make / make build   Release build of the program in build/
#   make install        install the stripped program into $(PREFIX)/bin
#                       (PREFIX=/usr/local by default; DESTDIR is honoured)
#   make uninstall      remove it again
#   make run            compile the example project into examples/site/out
#   make test           build and run every test: plainly, under ASan+UBSan,
#                       under ThreadSanitizer, and the fuzz smoke test
PREFIX ?= /usr/local
JOBS ?= $(shell nproc)
# Sub-makes started by CMake would otherwise print "Entering directory" lines.
MAKEFLAGS += --no-print-directory
CCACHE := $(shell command -v ccache 2>/dev/null)
LAUNCHER := $(if $(CCACHE),-DCMAKE_CXX_COMPILER_LAUNCHER=$(CCACHE))

.PHONY: all build install uninstall run test clean

all: build

build:
	@cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DZEVIZIZ_TESTS=OFF $(LAUNCHER) >/dev/null
	@cmake --build build -j $(JOBS) --target zeviziz

install: build
	@DESTDIR="$(DESTDIR)" cmake --install build --prefix "$(PREFIX)" --strip

uninstall:
	rm -f "$(DESTDIR)$(PREFIX)/bin/zeviziz"

run: build
	@cd examples/site && ../../build/zeviziz --log path count
	@echo "Output written to examples/site/out (open examples/site/out/index.html)"

test:
	@JOBS=$(JOBS) tests/run_passes.sh

clean:
	rm -rf build build-test build-asan build-tsan
