# make run   - install what is missing, build into build/, start the game
# make test  - the same set-up, then the whole test suite headless
BUILD_DIR := build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all setup setup-tests configure build run test clean

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

clean:
	rm -rf $(BUILD_DIR)
