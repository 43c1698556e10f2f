#!/usr/bin/env bash
# The whole test suite: Linux build with warnings as errors, every test with
# ctest, then the Windows build under wine. Needs a 64-bit Debian machine;
# installs every package group first (scripts/install-deps.sh all). A new
# stage is its stage line with the commands under it.
set -euo pipefail
cd "$(dirname "$0")/.."
# Each stage says when it starts, so a slow stage shows in the log.
stage() { echo "== test.sh: $1 (at ${SECONDS} s)"; }
stage "dependencies"
scripts/install-deps.sh all
scripts/check-format.sh

stage "Linux build and tests"
# Tests and benchmarks named: scripts/demo.sh builds this folder without them.
cmake -S . -B build/linux -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTRAX_WERROR=ON \
      -DTRAX_BUILD_TESTS=ON -DTRAX_BUILD_BENCH=ON
cmake --build build/linux
ctest --test-dir build/linux --output-on-failure -j2 --timeout 300
# The Python package against the same build.
stage "Python package"
scripts/test-python.sh build/linux
# The .NET and VBA bindings against the header, the C# program under Mono.
stage "bindings"
scripts/test-bindings.sh build/linux
# Debian packages and the wheel, built in build/deb and checked unpacked.
stage "packages"
scripts/test-packages.sh build/deb
# traxctl serve: API, refusals, the page in headless chromium, load check.
stage "web"
scripts/test-web.sh build/linux
# traxctl publish against a real mosquitto (outages, TLS, passwords, faults,
# commands) and serve's /metrics scraped by a real prometheus.
stage "MQTT broker and Prometheus"
scripts/test-publish.sh build/linux
# Four threads, every function family, random latency and injected faults for
# ten seconds: every failure explained, no thread or memory growth.
stage "soak"
build/linux/bench/trax_soak --seconds 10

# Checking builds: every test under AddressSanitizer and UndefinedBehaviorSanitizer
# (the install test links an outside program without them, so it is left out),
# and the unit and end-to-end tests under ThreadSanitizer, built by clang with
# its thread-safety analysis as errors.
stage "AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTRAX_WERROR=ON \
      -DTRAX_SANITIZE=address,undefined -DTRAX_BUILD_BENCH=OFF
cmake --build build/asan
ctest --test-dir build/asan --output-on-failure -j2 --timeout 300 -E 'Install'

stage "ThreadSanitizer and clang's thread-safety analysis"
CC=clang CXX=clang++ cmake -S . -B build/tsan-clang -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTRAX_WERROR=ON \
      -DTRAX_SANITIZE=thread -DTRAX_BUILD_BENCH=OFF
cmake --build build/tsan-clang --target trax_unit_tests trax_e2e_tests
TSAN_OPTIONS=halt_on_error=1 build/tsan-clang/tests/trax_unit_tests
TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build/tsan-clang --output-on-failure -j2 --timeout 300 -R '^E2e'

# The fuzzer: clang with AddressSanitizer, UndefinedBehaviorSanitizer and
# libFuzzer's coverage, about a minute from the seed corpus; any finding
# (a crash, a sanitizer report or a broken oracle) fails the run.
stage "fuzzer"
CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTRAX_WERROR=ON \
      -DTRAX_SANITIZE=address,undefined -DTRAX_FUZZ=ON -DTRAX_BUILD_TESTS=OFF -DTRAX_BUILD_BENCH=OFF
cmake --build build/fuzz --target trax_fuzz
mkdir -p build/fuzz/corpus build/fuzz/findings
build/fuzz/tests/fuzz/trax_fuzz -max_total_time=60 -timeout=10 -artifact_prefix=build/fuzz/findings/ \
      build/fuzz/corpus tests/fuzz/corpus
# The recording reader, a shorter run: recordings are files from outside too.
cmake --build build/fuzz --target trax_fuzz_recording
mkdir -p build/fuzz/recording-corpus
build/fuzz/tests/fuzz/trax_fuzz_recording -max_total_time=20 -timeout=10 -max_len=65536 \
      -artifact_prefix=build/fuzz/findings/recording- build/fuzz/recording-corpus tests/fuzz/recording-corpus
# traxctl publish's command messages, when it is built (libmosquitto): a short run.
if grep -q trax_fuzz_publish build/fuzz/build.ninja; then
  cmake --build build/fuzz --target trax_fuzz_publish
  mkdir -p build/fuzz/publish-corpus
  build/fuzz/publish/trax_fuzz_publish -max_total_time=20 -timeout=10 -artifact_prefix=build/fuzz/findings/ \
        build/fuzz/publish-corpus tests/fuzz/publish-corpus
else
  echo "test.sh: the publish fuzzer is not built here (no libmosquitto)"
fi
# traxctl serve's request handling and settings files, half a minute each
# from their seeds (every API request; settings files); built when serve is.
if cmake --build build/fuzz --target help | grep -q trax_http_fuzz; then
  cmake --build build/fuzz --target trax_http_fuzz trax_settings_fuzz
  for target in http settings; do
    mkdir -p build/fuzz/corpus-$target
    build/fuzz/tests/fuzz-serve/trax_${target}_fuzz -max_total_time=30 -timeout=10 -print_final_stats=1 \
          -artifact_prefix=build/fuzz/findings/ build/fuzz/corpus-$target tests/fuzz-serve/corpus-$target
  done
else
  echo "test.sh: traxctl serve is not built here (see the configure warning): its fuzzers are skipped"
fi

stage "Windows under wine"
if [ -x scripts/test-windows.sh ]; then
  scripts/test-windows.sh
fi
stage "done"
echo "all tests passed"
