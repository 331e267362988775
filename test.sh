#!/usr/bin/env bash
# Installs what is missing, builds and runs every test.
# QV_SANITIZE=address,undefined ./test.sh builds with sanitizers into build-sanitize/.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh

build=build
config=(-G Ninja -DCMAKE_BUILD_TYPE=Release -DQV_SANITIZE=)
if [ -n "${QV_SANITIZE:-}" ]; then
  build=build-sanitize-${QV_SANITIZE//,/-}
  config=(-G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DQV_SANITIZE=${QV_SANITIZE}")
  export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}
  export TSAN_OPTIONS=${TSAN_OPTIONS:-"suppressions=$PWD/tests/tsan.supp second_deadlock_stack=1 die_after_fork=0 ignore_noninstrumented_modules=1"}
fi
cmake -S . -B "$build" "${config[@]}" >/dev/null
cmake --build "$build"

# Tests that need a display get a private X server.
xvfb_pid=""
cleanup() { if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi; }
trap cleanup EXIT
# It takes a display number well above the ones the compositor tests' XWayland servers count up
# from (:0, :1...), which could otherwise take over its name while it runs.
if command -v Xvfb >/dev/null; then
  for number in $(seq 90 140); do
    if [ -e "/tmp/.X$number-lock" ] || [ -e "/tmp/.X11-unix/X$number" ]; then continue; fi
    Xvfb ":$number" -screen 0 1920x1080x24 -nolisten tcp 2>/dev/null &
    xvfb_pid=$!
    for _ in $(seq 100); do
      if [ -S "/tmp/.X11-unix/X$number" ] || ! kill -0 "$xvfb_pid" 2>/dev/null; then break; fi
      sleep 0.1
    done
    if kill -0 "$xvfb_pid" 2>/dev/null && [ -S "/tmp/.X11-unix/X$number" ]; then
      export DISPLAY=":$number"
      break
    fi
    kill "$xvfb_pid" 2>/dev/null || true
    xvfb_pid=""
  done
fi

# D-Bus clients in the tests get a session bus of their own, which starts none of the services
# installed on the machine.
session=()
if command -v dbus-run-session >/dev/null; then
  session=(dbus-run-session --config-file="$PWD/tests/support/session-bus.conf" --)
fi
# Our own parsers under the fuzzer, 20 s a target (QV_FUZZ_SECONDS), two at a time: about five
# minutes with the build on two cores. A finding fails the run, and so does a fuzz build that
# cannot be made (the targets compile our sources: a break there is ours); without clang the
# step says so and is skipped. QV_FUZZ=0 leaves it out.
if [ "${QV_FUZZ:-1}" != 0 ] && [ -z "${QV_SANITIZE:-}" ]; then
  fuzz_status=0
  FUZZ_PARALLEL=2 ./scripts/fuzz.sh "${QV_FUZZ_SECONDS:-20}" || fuzz_status=$?
  if [ "$fuzz_status" -eq 1 ]; then
    echo "fuzz: a fuzz target found a fault; reproducers are in build-fuzz/findings/"
    exit 1
  elif [ "$fuzz_status" -ne 0 ]; then
    echo "fuzz: the fuzz targets could not be built or run (status $fuzz_status)"
    exit 1
  fi
fi

"${session[@]}" ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
