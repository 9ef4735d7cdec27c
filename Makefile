# The two commands of the README: `make run` and `make test`. Both install what is missing first.
PRESET ?= default
BUILD_DIR := build/$(PRESET)

.PHONY: deps build run test asan tsan fuzz format lint clean install-cap deb deb-check

deps:
	@tools/install-deps.sh

build: deps
	cmake --preset $(PRESET)
	cmake --build --preset $(PRESET)

# The window when there is a display to show it on; otherwise the command-line demonstration.
run: build
	@if [ -n "$$DISPLAY$$WAYLAND_DISPLAY" ]; then \
	  $(BUILD_DIR)/app/hopwise; \
	else \
	  echo "No display (neither DISPLAY nor WAYLAND_DISPLAY is set): showing the command-line demonstration instead."; \
	  tools/demo.sh $(BUILD_DIR); \
	fi

test: build
	ctest --preset $(PRESET)

asan:
	$(MAKE) test PRESET=asan

tsan:
	$(MAKE) test PRESET=tsan

fuzz: deps
	cmake --preset fuzz
	cmake --build --preset fuzz --target icmp_reply_decoder_fuzz icmp6_reply_decoder_fuzz icmp_extension_fuzz \
	  echo_request_fuzz cli_args_fuzz registry_text_fuzz

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

# Layers, formatting and clang-tidy, as CI runs them.
lint: build
	tools/lint.sh $(BUILD_DIR)

# Opt-in, as root: lets users outside net.ipv4.ping_group_range use raw ICMP sockets. The
# programs keep the capability permitted but not effective, raising it only to open a socket.
install-cap: build
	setcap cap_net_raw+p $(BUILD_DIR)/cli/hopwise-cli
	if [ -x $(BUILD_DIR)/app/hopwise ]; then setcap cap_net_raw+p $(BUILD_DIR)/app/hopwise; fi

# The Debian packages hopwise and hopwise-cli, into build/deb/ (see the README to install them);
# deb-check lints them, installs, runs and purges them as CI does (root).
deb: deps
	tools/build-deb.sh build/deb

deb-check: deb
	tools/check-deb.sh build/deb

clean:
	rm -rf build
