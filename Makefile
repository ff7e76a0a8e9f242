# Two entry points: `make demo` runs Orvalix on the bundled sample, `make test` runs every test.
BUILD ?= build
JOBS ?= 2

.PHONY: build demo test clean

build:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release $(CMAKE_OPTIONS)
	cmake --build $(BUILD) -j $(JOBS)

demo: build
	$(BUILD)/orvalix samples/speech16k.wav $(BUILD)/speech16k.txt -O
	@echo "Features written to $(BUILD)/speech16k.txt:"
	@head -n 3 $(BUILD)/speech16k.txt

# The tests cover the Python package too (Debian: pybind11-dev python3-dev python3-pytest).
test: CMAKE_OPTIONS += -DORVALIX_PYTHON=ON
test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD)
