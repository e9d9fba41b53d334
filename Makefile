# Thin wrappers over CMake. `make run` builds zeviziz and compiles the example
# project; `make test` builds and runs every test, once plainly and once under
# AddressSanitizer and UndefinedBehaviorSanitizer.
JOBS ?= $(shell nproc)

.PHONY: build run test clean

build:
	cmake -S . -B build -DZEVIZIZ_TESTS=OFF >/dev/null
	cmake --build build -j $(JOBS) --target zeviziz

run: build
	cd examples/site && ../../build/zeviziz --log path count
	@echo "Output written to examples/site/out (open examples/site/out/index.html)"

test:
	cmake -S . -B build-test -DZEVIZIZ_TESTS=ON >/dev/null
	cmake --build build-test -j $(JOBS)
	cd build-test && ctest --output-on-failure -j $(JOBS)
	cmake -S . -B build-asan -DZEVIZIZ_TESTS=ON -DZEVIZIZ_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ctest --output-on-failure -j $(JOBS)

clean:
	rm -rf build build-test build-asan
