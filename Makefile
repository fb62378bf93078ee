# make deps | make | make run | make test | make test-fast | make bench
BUILD ?= build
JOBS ?= $(shell nproc)
# How many jobs: JOBS given to make wins; else the caller's own -j (make -j4),
# whose job slots the build shares; else one per core. Read in the recipes,
# where MAKEFLAGS holds the caller's -j.
JOBS_GIVEN := $(filter command line environment,$(origin JOBS))
CALLER_JOBS = $(patsubst -j%,%,$(filter -j%,$(MAKEFLAGS)))
BUILD_JOBS = $(if $(JOBS_GIVEN),-j$(JOBS),$(if $(filter -j%,$(MAKEFLAGS)),,-j$(JOBS)))
TEST_JOBS = $(if $(JOBS_GIVEN),$(JOBS),$(or $(CALLER_JOBS),$(JOBS)))
PACKAGES = g++ cmake make ccache qt6-base-dev qt6-serialport-dev libsqlite3-dev \
           libgtest-dev libgmock-dev libbenchmark-dev fonts-noto-cjk fonts-wqy-microhei poppler-utils \
           qt6-translations-l10n
SUDO = $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: all deps run test test-fast bench clean

all: $(BUILD)/Makefile
	+cmake --build $(BUILD) $(BUILD_JOBS)

$(BUILD)/Makefile: CMakeLists.txt
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

deps:
	@missing=""; for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "installing:$$missing"; \
	  $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get update -q && \
	  $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $$missing; \
	fi

run: deps all
	@[ -d $(BUILD)/data ] || $(BUILD)/tarvo-mkdata $(BUILD)/data
	$(BUILD)/tarvo

test: deps all
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest -j$(TEST_JOBS) --output-on-failure --timeout 600

# The tests labelled fast: all but the soak, the kills and the whole consoles on the simulator.
test-fast: deps all
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest -j$(TEST_JOBS) -L fast --output-on-failure --timeout 600

bench: deps all
	+cmake --build $(BUILD) --target bench_all $(BUILD_JOBS)
	@for b in $(BUILD)/bench/*_bench; do [ -x $$b ] && QT_QPA_PLATFORM=offscreen $$b; done

clean:
	rm -rf $(BUILD)
