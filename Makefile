# The two commands of the README: `make run` and `make test`. Both install
# what is missing first (scripts/install-deps), then configure and build.

BUILD_DIR ?= build
CMAKE_FLAGS ?=

.PHONY: all deps configure build run test clean

all: build

deps:
	scripts/install-deps

configure: deps
	cmake -S . -B $(BUILD_DIR) -G Ninja $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD_DIR)

run: build
	$(BUILD_DIR)/src/app/tarnlook

test: build
	cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure

clean:
	rm -rf $(BUILD_DIR)
