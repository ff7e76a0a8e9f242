# Shortcuts for those who have make. ./quickstart needs only bash and apt, and is what the README
# and CI use.
BUILD ?= build

.PHONY: build demo test install clean

build:
	./quickstart build

demo:
	./quickstart demo

test:
	./quickstart test

# The program, its helper commands, the man page and the library into /usr/local
# (cmake --install $(BUILD) --prefix DIR installs elsewhere).
install: build
	cmake --install $(BUILD)

clean:
	rm -rf $(BUILD)
