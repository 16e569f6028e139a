# SPDX-License-Identifier: MIT
# The front door: `make run` and `make test` install what is missing, build, and go.

BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
# Debian/Ubuntu packages the build and the window need.
PACKAGES := cmake ninja-build g++ qt6-base-dev libgl-dev qt6-qpa-plugins fonts-dejavu-core fonts-dejavu-extra \
	qt6-tools-dev qt6-l10n-tools qt6-translations-l10n dpkg-dev libxxhash-dev libpcre2-dev
# Tools only the tests use (chattr, setpriv, setfacl, the fuzz target's clang),
# installed by `make test` alone; a release that lacks one still builds and
# tests, and those tests say what they miss. The validators of the desktop
# entry, the metainfo and the package, the shells whose completions are
# syntax-checked, and clang-format for the layout check, likewise.
TEST_PACKAGES := e2fsprogs util-linux acl strace clang libclang-rt-14-dev desktop-file-utils appstream groff-base \
	zsh fish clang-format lintian
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)
JOBS := $(shell nproc 2>/dev/null || echo 2)
# make install [PREFIX=/usr] [DESTDIR=/tmp/stage]
PREFIX ?= /usr/local

.PHONY: all run test build deps test-deps bench clean install uninstall package translations format sanitize

all: build

# Only what is missing, and nothing a package merely recommends (fish would
# bring lynx and xsel along).
APT_INSTALL := DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -q --no-install-recommends

# What the build and the program need: `make run`, `make install`.
deps:
	@missing=""; for p in $(PACKAGES); do \
	    dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	    echo "Installing:$$missing"; \
	    $(SUDO) apt-get update -q || exit 1; \
	    $(APT_INSTALL) $$missing || exit 1; \
	fi

# The tests' own tools, for `make test` only; each one that cannot be had is skipped.
test-deps: deps
	@optional=""; for p in $(TEST_PACKAGES); do \
	    dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "ok installed" || optional="$$optional $$p"; \
	done; \
	if [ -n "$$optional" ]; then \
	    echo "Installing for the tests:$$optional"; \
	    $(SUDO) apt-get update -q || exit 1; \
	fi; \
	for p in $$optional; do \
	    $(APT_INSTALL) $$p >/dev/null \
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

test: test-deps build
	cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

# CMake's install manifest is rewritten by every install from this build
# tree (the tests stage installs of their own), so make install keeps its own
# copy, and the list of folders it made, which make uninstall removes again
# once they are empty. Folders that were there before are never touched.
install: build
	@dest="$(DESTDIR)$(PREFIX)"; up="$$dest"; : > $(BUILD_DIR)/installed-dirs.txt; \
	while [ -n "$$up" ] && [ "$$up" != / ] && [ ! -d "$$up" ]; do \
	    printf '%s\n' "$$up" >> $(BUILD_DIR)/installed-dirs.txt; up=$$(dirname "$$up"); \
	done; \
	if [ -d "$$dest" ]; then find "$$dest" -xdev -type d | LC_ALL=C sort > $(BUILD_DIR)/dirs-before.txt; \
	else : > $(BUILD_DIR)/dirs-before.txt; fi
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD_DIR) --prefix "$(PREFIX)"
	sed "s|^|$(DESTDIR)|" $(BUILD_DIR)/install_manifest.txt > $(BUILD_DIR)/installed-files.txt
	@find "$(DESTDIR)$(PREFIX)" -xdev -type d | LC_ALL=C sort \
	    | LC_ALL=C comm -13 $(BUILD_DIR)/dirs-before.txt - >> $(BUILD_DIR)/installed-dirs.txt
	@rm -f $(BUILD_DIR)/dirs-before.txt

# Removes what the last `make install` put in place, then the folders it made
# where they are empty, the deepest first.
uninstall:
	@test -f $(BUILD_DIR)/installed-files.txt || { echo "Nothing was installed from $(BUILD_DIR)."; exit 1; }
	@while IFS= read -r f || [ -n "$$f" ]; do \
	    if [ -e "$$f" ] || [ -L "$$f" ]; then rm -f -- "$$f" && echo "Removed $$f"; fi; \
	done < $(BUILD_DIR)/installed-files.txt
	@if [ -f $(BUILD_DIR)/installed-dirs.txt ]; then \
	    LC_ALL=C sort -r -u $(BUILD_DIR)/installed-dirs.txt | while IFS= read -r d; do \
	        if [ -d "$$d" ] && rmdir -- "$$d" 2>/dev/null; then echo "Removed folder $$d"; fi; \
	    done; \
	fi
	@rm -f $(BUILD_DIR)/installed-files.txt $(BUILD_DIR)/installed-dirs.txt

# A Debian package in $(BUILD_DIR)/, installable with apt-get install ./vexalo4_*.deb
package: build
	cd $(BUILD_DIR) && cpack -G DEB

# Brings translations/*.ts up to date with the strings in the sources; new
# strings then wait there, untranslated, for a translator (Qt Linguist).
translations: deps $(BUILD_DIR)/build.ninja
	cmake --build $(BUILD_DIR) --target update_translations

# make bench [BENCH_ARGS="--runs 2 --sets small --places tmpfs"] for a quick look
bench: build
	bash bench/run.sh $(BENCH_ARGS)

# The engine, command-line and fault tests under AddressSanitizer and
# UndefinedBehaviorSanitizer, and the parallel runs under ThreadSanitizer, in
# build trees of their own (build-sanitize, build-tsan); see tools/sanitize.sh.
sanitize: test-deps
	tools/sanitize.sh

# Lays out every C++ file as .clang-format says (clang-format 14).
format:
	tools/clang-format.sh

clean:
	rm -rf $(BUILD_DIR)
