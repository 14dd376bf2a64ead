# The two entry points of a fresh machine: `make demo` and `make check`.
BUILD      ?= build
JOBS       ?= $(shell nproc)
CMAKE_GEN  := -G Ninja
# OV_WERROR=ON makes every compiler warning an error (.ci/run sets it).
OV_WERROR  ?= OFF
OV_OPTIONS := -DOV_WERROR=$(OV_WERROR)

.PHONY: demo check bootstrap build-release build-debug bench asan tsan wire-codec fuzz install-test package docs clean

# Each target installs the Debian packages it needs (scripts/bootstrap names the sets);
# `make bootstrap` installs those of the build and the tests.
bootstrap:
	@sh scripts/bootstrap build test

# Release build, then the example program; the build holds the ovutil tool as well.
demo:
	@sh scripts/bootstrap build
	cmake -S . -B $(BUILD)/release $(CMAKE_GEN) $(OV_OPTIONS) -DCMAKE_BUILD_TYPE=Release -DOV_BUILD_TESTS=OFF
	cmake --build $(BUILD)/release -j $(JOBS)
	$(BUILD)/release/examples/ovutil_demo
	@echo "The ovutil tool of this build: $(BUILD)/release/tools/ovutil/ovutil (man page: man -l $(BUILD)/release/tools/ovutil/ovutil.1)"

# Every unit test through CTest.
check:
	@sh scripts/bootstrap build test
	cmake -S . -B $(BUILD)/debug $(CMAKE_GEN) $(OV_OPTIONS) -DCMAKE_BUILD_TYPE=Debug
	cmake --build $(BUILD)/debug -j $(JOBS)
	cd $(BUILD)/debug && ctest -L 'unit|threads' --output-on-failure -j $(JOBS)

asan:
	@sh scripts/bootstrap build test
	cmake -S . -B $(BUILD)/asan $(CMAKE_GEN) $(OV_OPTIONS) -DCMAKE_BUILD_TYPE=Debug -DOV_SANITIZE=address,undefined -DOV_BUILD_EXAMPLES=OFF
	cmake --build $(BUILD)/asan -j $(JOBS)
	cd $(BUILD)/asan && ctest -L 'unit|threads' --output-on-failure -j $(JOBS)

tsan:
	@sh scripts/bootstrap build test
	cmake -S . -B $(BUILD)/tsan $(CMAKE_GEN) $(OV_OPTIONS) -DCMAKE_BUILD_TYPE=Debug -DOV_SANITIZE=thread -DOV_BUILD_EXAMPLES=OFF
	cmake --build $(BUILD)/tsan -j $(JOBS)
	cd $(BUILD)/tsan && ctest -L threads --output-on-failure -j $(JOBS)

# The tests of src/WVCore (attribute lists, the name/value map, the typed objects) with the
# map's wire form going through the codec's record tree (OV_WIRE_VIA_CODEC=ON): a build of
# just the library and those tests.
wire-codec:
	@sh scripts/bootstrap build test
	cmake -S . -B $(BUILD)/wire-codec $(CMAKE_GEN) $(OV_OPTIONS) -DCMAKE_BUILD_TYPE=Debug -DOV_WIRE_VIA_CODEC=ON \
	  -DOV_BUILD_EXAMPLES=OFF -DOV_BUILD_TOOLS=OFF
	cmake --build $(BUILD)/wire-codec -j $(JOBS) --target tests/src/WVCore/all
	ctest --test-dir $(BUILD)/wire-codec/tests/src/WVCore -L 'unit|threads' --output-on-failure -j $(JOBS)

fuzz:
	@sh scripts/bootstrap build fuzz
	cmake -S . -B $(BUILD)/fuzz $(CMAKE_GEN) $(OV_OPTIONS) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DOV_SANITIZE=address,undefined \
	  -DOV_BUILD_TESTS=OFF -DOV_BUILD_FUZZ=ON -DOV_BUILD_EXAMPLES=OFF -DOV_BUILD_TOOLS=OFF
	cmake --build $(BUILD)/fuzz -j $(JOBS)
	cd $(BUILD)/fuzz && ctest -L fuzz --output-on-failure

bench:
	@sh scripts/bootstrap build bench
	cmake -S . -B $(BUILD)/bench $(CMAKE_GEN) $(OV_OPTIONS) -DCMAKE_BUILD_TYPE=Release -DOV_BUILD_TESTS=OFF -DOV_BUILD_BENCH=ON
	cmake --build $(BUILD)/bench -j $(JOBS)

# Installs a copy and builds an outside CMake project and an outside C program against it.
install-test:
	@sh scripts/bootstrap build
	OV_CMAKE_ARGS="$(OV_OPTIONS)" sh scripts/install-test $(BUILD)/install-test

# Debian packages (libovutil1, libovutil-dev, ovutil-tools) in $(BUILD)/package/debs, checked
# with lintian and by a client built against them unpacked into a fresh root.
package:
	@sh scripts/bootstrap build package
	sh scripts/package-test $(BUILD)/package

# API documentation from the public headers: $(BUILD)/docs/docs/html/index.html.
docs:
	@sh scripts/bootstrap build docs
	cmake -S . -B $(BUILD)/docs $(CMAKE_GEN) -DOV_BUILD_TESTS=OFF -DOV_BUILD_EXAMPLES=OFF -DOV_BUILD_TOOLS=OFF
	cmake --build $(BUILD)/docs --target docs

clean:
	rm -rf $(BUILD)
