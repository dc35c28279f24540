# make run   - install what is missing, build into build/, start the game
# make test  - the same set-up, then the whole test suite headless
BUILD_DIR := build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all setup setup-tests configure build run test bench screenshots clean

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

test: setup setup-tests configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

# The countdown's timing in the real game window, headless (about two minutes).
bench: setup configure
	@cmake --build $(BUILD_DIR) -j $(JOBS) --target countdown_bench
	QT_QPA_PLATFORM=offscreen ./$(BUILD_DIR)/countdown_bench

# Pictures of the real windows in docs/screenshots/, at scale 1 and at Qt scale factor 2.
screenshots: build setup-tests
	bash scripts/screenshots.sh
	SCALE=2 bash scripts/screenshots.sh

clean:
	rm -rf $(BUILD_DIR)
