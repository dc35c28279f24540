# make run   - install what is missing, build into build/, start the game
# make test  - the same set-up, then the whole test suite headless
BUILD_DIR := build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all setup setup-tests configure build run test bench soak screenshots clean

all: build

setup:
	@sh scripts/setup.sh

setup-tests:
	@sh scripts/setup.sh --tests

configure:
	@cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: setup configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	./$(BUILD_DIR)/nubora1

# The suite runs twice: as built for the player, then under AddressSanitizer and
# UndefinedBehaviorSanitizer (without the real-window game, which the first run covers).
test: setup setup-tests configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)
	@cmake -S . -B $(BUILD_DIR)-sanitize -DCMAKE_BUILD_TYPE=Debug -DNUBORA_SANITIZE=ON >/dev/null
	@cmake --build $(BUILD_DIR)-sanitize -j $(JOBS)
	cd $(BUILD_DIR)-sanitize && ctest --output-on-failure -j $(JOBS) -E real_window

# The countdown's timing in the real game window, headless (about two minutes).
bench: setup configure
	@cmake --build $(BUILD_DIR) -j $(JOBS) --target countdown_bench
	QT_QPA_PLATFORM=offscreen ./$(BUILD_DIR)/countdown_bench

# A long soak of random play (the suite runs a short one with a fixed seed).
SOAK_EVENTS ?= 100000
soak: build
	@cmake --build $(BUILD_DIR) -j $(JOBS) --target tst_soak
	QT_QPA_PLATFORM=offscreen SOAK_EVENTS=$(SOAK_EVENTS) SOAK_SEED=$${SOAK_SEED:-$$(date +%s)} ./$(BUILD_DIR)/tests/tst_soak

# Pictures of the real windows in docs/screenshots/, at scale 1 and at Qt scale factor 2.
screenshots: build setup-tests
	bash scripts/screenshots.sh
	SCALE=2 bash scripts/screenshots.sh

clean:
	rm -rf $(BUILD_DIR)
