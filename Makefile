# SPDX-License-Identifier: GPL-3.0-or-later
# make run   - install what is missing, build the game alone into build/, start it
# make test  - the same set-up, then the whole test suite headless (the Debian package too)
# make check - the quick tier alone (CTest labels unit and window), in under a minute
# make deb   - the Debian packages (the game, the class server), built from a copy of the tree in build-deb/
BUILD_DIR := build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all setup setup-tests setup-deb setup-site setup-server setup-bench-server configure build run test check deb web site web-deps bench bench-web bench-round bench-server server soak soak-share screenshots clean

all: build

setup:
	@sh scripts/setup.sh

setup-tests:
	@sh scripts/setup.sh --tests

setup-deb:
	@sh scripts/setup.sh --deb

setup-site:
	@sh scripts/setup.sh --site

setup-fuzz:
	@sh scripts/setup.sh --fuzz

setup-server:
	@sh scripts/setup.sh --server

setup-bench-server:
	@sh scripts/setup.sh --server --bench-server

# The test builds make every warning an error (NUBORA_WERROR), in every target and in the
# sanitizers' builds; the player's build does not.
WERROR := OFF
# Where ccache is installed (the set-up's --tests group brings it), every build goes through
# it: the test suite builds the tree three times over (plain, sanitizers, ThreadSanitizer).
LAUNCHER := $(if $(shell command -v ccache 2>/dev/null),-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
check: WERROR := ON
test: WERROR := ON
configure:
	@cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNUBORA_WERROR=$(WERROR) $(LAUNCHER) >/dev/null

build: setup configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

# Only the game is built: the tests are built by `make test`.
run: setup configure
	@cmake --build $(BUILD_DIR) -j $(JOBS) --target nubora1
	./$(BUILD_DIR)/nubora1

# The suite runs twice: as built for the player, then under AddressSanitizer and
# UndefinedBehaviorSanitizer (without the real-window game, the emscripten build of the
# rules and the page with desktop_layout, its fixture, which the first run covers;
# tst_webexport goes too, for CTest would run web_page ahead of it, whatever -E says, to make
# the download it compares). Then the tests that save on a thread beside the windows run under
# ThreadSanitizer. The browser's site (make web) is built first, for web_page.
TSAN_TESTS := tst_form3entry tst_form3lists tst_form3saving tst_savebeside tst_soak
test: setup setup-tests setup-deb configure web web-deps
	@cmake --build $(BUILD_DIR) -j $(JOBS)
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)
	@cmake -S . -B $(BUILD_DIR)-sanitize -DCMAKE_BUILD_TYPE=Debug -DNUBORA_SANITIZE=ON -DNUBORA_WERROR=$(WERROR) $(LAUNCHER) >/dev/null
	@cmake --build $(BUILD_DIR)-sanitize -j $(JOBS)
	cd $(BUILD_DIR)-sanitize && ctest --output-on-failure -j $(JOBS) -E 'real_window|package_deb|rules_wasm_replay|web_page|web_round|desktop_layout|tst_webexport'
	@cmake -S . -B $(BUILD_DIR)-tsan -DCMAKE_BUILD_TYPE=Debug -DNUBORA_TSAN=ON -DNUBORA_WERROR=$(WERROR) $(LAUNCHER) >/dev/null
	@cmake --build $(BUILD_DIR)-tsan -j $(JOBS) --target $(TSAN_TESTS)
	cd $(BUILD_DIR)-tsan && ctest --output-on-failure -j $(JOBS) -R '^($(subst $() ,|,$(TSAN_TESTS)))$$'

# The class server alone: build/nubora1-server (README, "The class server").
server: setup setup-server configure
	@cmake --build $(BUILD_DIR) -j $(JOBS) --target nubora1-server

# The game in a browser, for the page's tests: the static site in build-web/ (index.html, the
# game library as an emscripten module and its WebAssembly, the page's scripts and style,
# manifest, service worker) and build-web/nubora1.html, the whole game in one file for file://.
web: setup-site
	@sh web/build.sh build-web

# The site to put up: build-site/nubora1-web-VERSION/ holds exactly the files to copy to the
# web server, and build-site/nubora1-web-VERSION.tar.gz the same. Installs only what building
# it needs.
SITE := nubora1-web-$(shell awk '/^project/ { print $$3 }' CMakeLists.txt)
site: setup-site
	@rm -rf build-site/$(SITE) build-site/$(SITE).tar.gz
	@sh web/build.sh build-site/build build-site/$(SITE)
	tar -C build-site --sort=name --owner=0 --group=0 --numeric-owner -czf build-site/$(SITE).tar.gz $(SITE)
	@echo "The site: build-site/$(SITE)/ (and build-site/$(SITE).tar.gz)"

# The quick tier: the library, the ranking file, the windows offscreen and the tree's own
# checks (CTest labels unit and window; tests/CMakeLists.txt gives every test its label).
check: setup setup-tests configure node_modules/.package-lock.json
	@cmake --build $(BUILD_DIR) -j $(JOBS)
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS) -L '^(unit|window)$$'

# The page's test tools from npm (puppeteer-core, axe-core, prettier), as package-lock.json pins them.
node_modules/.package-lock.json: package-lock.json
	@$(MAKE) --no-print-directory web-deps
web-deps:
	@npm_config_cache=$${npm_config_cache:-$(CURDIR)/build-web/npm-cache} npm ci --no-audit --no-fund --loglevel=error

# nubora1_<version>_<arch>.deb and nubora1-server_<version>_<arch>.deb (with their -dbgsym
# packages, .buildinfo and .changes) in build-deb/.
deb: setup setup-deb
	sh scripts/build-deb.sh build-deb

# Start-up, memory and idle beside a bare Qt window, then the countdown's timing over a game
# (about five minutes in all).
bench: build setup-tests
	@cmake --build $(BUILD_DIR) -j $(JOBS) --target countdown_bench floor_window
	bash bench/startup.sh
	QT_QPA_PLATFORM=offscreen ./$(BUILD_DIR)/countdown_bench

# The page's size, start-up time and countdown, in headless Chromium (about 2 minutes).
bench-web: setup-tests web web-deps
	NUBORA_WEB_DIR=$(CURDIR)/build-web node bench/web.mjs

# The class round on loopback, over two servers on one PostgreSQL of its own: how far apart
# forty devices put each question's start, and how soon an answer shows on a teacher's board in
# headless Chromium; then both with 1,000 devices in four worker threads (about five minutes;
# bench/round.mjs).
bench-round: server setup-tests setup-bench-server web-deps
	NUBORA_SERVER=$(CURDIR)/$(BUILD_DIR)/nubora1-server node bench/round.mjs

# The class server under forty pupils saving at once, on SQLite and on PostgreSQL, each beside
# the bare store's rate, and its reads beside nginx's, with and without hostile devices; forty
# page loads at once and 10,000 idle connections (about three minutes; bench/server.sh).
bench-server: server setup-bench-server
	@cmake --build $(BUILD_DIR) -j $(JOBS) --target server_bench
	bash bench/server.sh

# A long soak of random play (the suite runs a short one with a fixed seed).
SOAK_EVENTS ?= 100000
soak: build
	@cmake --build $(BUILD_DIR) -j $(JOBS) --target tst_soak
	QT_QPA_PLATFORM=offscreen SOAK_EVENTS=$(SOAK_EVENTS) SOAK_SEED=$${SOAK_SEED:-$$(date +%s)} ./$(BUILD_DIR)/tests/tst_soak

# Forty classroom PCs on a file server, longer than the suite's round: SHARE_ROUNDS rounds (5)
# of forty sshfs mounts saving at once, with a clearing, and spread over ten seconds.
SHARE_ROUNDS ?= 5
soak-share: build setup-tests
	@cmake --build $(BUILD_DIR) -j $(JOBS) --target tst_share
	for r in $$(seq 1 $(SHARE_ROUNDS)); do \
		echo "round $$r"; \
		SHARE_SPREAD_MS=10000 bash tests/share/mounts.sh 40 ./$(BUILD_DIR)/tests/tst_share || exit 1; \
	done

# Hostile ranking files: the libFuzzer targets over the ranking file's records, built with clang,
# AddressSanitizer and UndefinedBehaviorSanitizer: ranking_fuzz over the rules in memory for
# FUZZ_SECONDS (60), then ranking_file_fuzz through a real file for FUZZ_FILE_SECONDS (10).
# The in-memory run goes without AddressSanitizer, for speed; the file run then starts from
# every input it found, under AddressSanitizer.
# Then server_fuzz feeds the class server's request handler for FUZZ_FILE_SECONDS, from fuzz/server_corpus.
# Seeds come from fuzz/corpus; new inputs go to build-fuzz/corpus, crashes to build-fuzz/artifacts.
FUZZ_DIR := build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_FILE_SECONDS ?= 10
fuzz: setup-fuzz setup-server
	@cmake -S fuzz -B $(FUZZ_DIR) -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(FUZZ_DIR) -j $(JOBS)
	@mkdir -p $(FUZZ_DIR)/corpus $(FUZZ_DIR)/artifacts
	./$(FUZZ_DIR)/ranking_fuzz -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
		-artifact_prefix=$(FUZZ_DIR)/artifacts/ $(FUZZ_DIR)/corpus fuzz/corpus
	TMPDIR=$$( [ -w /dev/shm ] && echo /dev/shm || echo /tmp ) ./$(FUZZ_DIR)/ranking_file_fuzz \
		-max_total_time=$(FUZZ_FILE_SECONDS) -print_final_stats=1 -artifact_prefix=$(FUZZ_DIR)/artifacts/ \
		$(FUZZ_DIR)/corpus fuzz/corpus
	@mkdir -p $(FUZZ_DIR)/server_corpus
	./$(FUZZ_DIR)/server_fuzz -max_total_time=$(FUZZ_FILE_SECONDS) -print_final_stats=1 \
		-artifact_prefix=$(FUZZ_DIR)/artifacts/ $(FUZZ_DIR)/server_corpus fuzz/server_corpus

# Pictures of the real windows in docs/screenshots/, at scale 1 and at Qt scale factor 2; and
# of the teacher's board at 1920×1080 and 1280×720 (with its lists, and during a class round)
# and クラスのまちがい, taken by their tests.
screenshots: build web setup-tests
	bash scripts/screenshots.sh
	SCALE=2 bash scripts/screenshots.sh
	NUBORA_SHOTS=$(CURDIR)/docs/screenshots NUBORA_SERVER=$(CURDIR)/build/nubora1-server \
		NUBORA_WEB_DIR=$(CURDIR)/build-web node --test --test-name-pattern='board|wrong' tests/web/teacher.test.mjs \
		tests/web/board.test.mjs

# Everything the targets above write: the builds, the site, the package, the fuzzers' finds
# and the npm tools.
clean:
	rm -rf $(BUILD_DIR) $(BUILD_DIR)-sanitize $(BUILD_DIR)-tsan build-web build-site build-deb $(FUZZ_DIR) node_modules
