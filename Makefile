# The two commands of the README:
#   make run   installs what is missing, builds Remote optimised and starts it
#   make test  installs what is missing, builds with sanitizers and passes every test
JOBS ?= $(shell nproc)

.PHONY: deps run build test test-asan test-fuzz bench clean

deps:
	@./scripts/install-deps

build: deps
	cmake --preset release >/dev/null
	cmake --build --preset release -j$(JOBS) --target remote

run: build
	./build/release/apps/remote/remote $(ARGS)

test-asan: deps
	cmake --preset asan >/dev/null
	cmake --build --preset asan -j$(JOBS)
	ctest --preset asan -j1

test-fuzz: deps
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz -j$(JOBS)
	ctest --preset fuzz -j1

test: test-asan test-fuzz

bench: deps
	cmake --preset release >/dev/null
	cmake --build --preset release -j$(JOBS)
	./scripts/run-benchmarks

clean:
	rm -rf build
