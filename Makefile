# SPDX-License-Identifier: MIT
# The front door: `make run` and `make test` install what is missing, build, and go.

BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
# Debian/Ubuntu packages the build and the window need.
PACKAGES := cmake ninja-build g++ qt6-base-dev libgl-dev qt6-qpa-plugins fonts-dejavu-core fonts-dejavu-extra
# Tools some tests use (chattr, setpriv, setfacl, the fuzz target's clang); a
# release that lacks one still builds and tests, and those tests say what they miss.
TEST_PACKAGES := e2fsprogs util-linux acl strace clang libclang-rt-14-dev
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)
JOBS := $(shell nproc 2>/dev/null || echo 2)

.PHONY: all run test build deps bench clean

all: build

deps:
	@missing=""; for p in $(PACKAGES); do \
	    dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "ok installed" || missing="$$missing $$p"; \
	done; \
	optional=""; for p in $(TEST_PACKAGES); do \
	    dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "ok installed" || optional="$$optional $$p"; \
	done; \
	if [ -n "$$missing$$optional" ]; then \
	    echo "Installing:$$missing$$optional"; \
	    $(SUDO) apt-get update -q || exit 1; \
	fi; \
	if [ -n "$$missing" ]; then \
	    DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -q $$missing || exit 1; \
	fi; \
	for p in $$optional; do \
	    DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -q $$p >/dev/null \
	        || echo "Note: $$p is not available here; the tests that need it will say so and skip."; \
	done

$(BUILD_DIR)/build.ninja: CMakeLists.txt | deps
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)

build: deps $(BUILD_DIR)/build.ninja
	cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	@prog=$$(ls $(BUILD_DIR)/bin/vexalo4 2>/dev/null || ls $(BUILD_DIR)/bin/* 2>/dev/null | head -n1); \
	if [ -z "$$prog" ]; then echo "No program has been built yet."; exit 1; fi; \
	exec $$prog

test: build
	cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

bench: build
	bash bench/run.sh

clean:
	rm -rf $(BUILD_DIR)
