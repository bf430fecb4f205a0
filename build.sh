#!/bin/sh
# Set-up, build and run for a fresh Debian 12 machine (run as root, or with sudo available).
#   ./build.sh run    install what is missing, build, run font_generator on etc/font/font.qsd
#   ./build.sh test   install what is missing, build and run every test (plain, ASan+UBSan, TSan,
#                     the tool under valgrind memcheck, fuzzing)
set -eu
cd "$(dirname "$0")"

# valgrind: its client-request header tells the io_pump that it runs under memcheck.
packages="cmake g++ make pkg-config libfreetype-dev libharfbuzz-dev libpng-dev liburing-dev valgrind fonts-dejavu-core"
test_packages="libgtest-dev libbenchmark-dev clang libclang-rt-14-dev xfonts-base fonts-urw-base35 fonts-unifont
    fonts-inter fonts-inter-variable fonts-liberation ttf-bitstream-vera fonts-wqy-microhei fonts-noto-core"

install_missing() {
    missing=""
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" ||
            missing="$missing $package"
    done
    [ -z "$missing" ] && return 0
    echo "Installing:$missing"
    sudo_command=""
    [ "$(id -u)" -eq 0 ] || sudo_command="sudo"
    $sudo_command apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo_command apt-get install -y -qq --no-install-recommends $missing
}

jobs=$(nproc 2>/dev/null || echo 2)

started=$(date +%s)
stage() {  # stage <what>: a heading with the time since the start
    echo "== $1 ($(($(date +%s) - started)) s)"
}

configure() {  # configure <directory> [cmake options...]
    directory=$1
    shift
    cmake -S . -B "$directory" -DOV_WERROR=ON "$@" >/dev/null
}

build() {  # build <directory> [cmake options...]
    configure "$@"
    cmake --build "$1" -j "$jobs"
}

case "${1:-}" in
run)
    install_missing $packages
    build build -DOV_BUILD_TESTS=OFF
    ./build/font_generator
    ;;
test)
    install_missing $packages $test_packages
    stage "plain build and tests"
    build build -DOV_BUILD_TESTS=ON
    ctest --test-dir build --output-on-failure --no-tests=error -j "$jobs"
    # Memory and undefined-behaviour errors, leaks included.
    stage "AddressSanitizer and UndefinedBehaviorSanitizer"
    build build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOV_SANITIZE=address
    ASAN_OPTIONS=detect_leaks=1 ctest --test-dir build-asan --output-on-failure --no-tests=error -j "$jobs"
    # Data races in the thread, file and profiler code, and in the glyph helpers.
    stage "ThreadSanitizer"
    build build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOV_SANITIZE=thread \
        "-DOV_TEST_FILTER=^(ovcore_thread_|ovcore_ufs_|ovcore_units_unit_name_test|ovcore_profiling_|tools_font_generator_faces_glyph_workers_test)"
    ctest --test-dir build-tsan --output-on-failure --no-tests=error -j "$jobs"
    # The plain tool under memcheck: the bundled default, three sets of three font kinds, and
    # distance fields with every export flavour.
    stage "valgrind memcheck"
    for configuration in etc/font/font.qsd tests/data/configurations/three_sets.qsd \
        tests/data/configurations/fields_and_exports.qsd; do
        log=build/memcheck-$(basename "$configuration" .qsd).log
        if ! valgrind -q --error-exitcode=99 --leak-check=full \
            --errors-for-leak-kinds=definite,indirect,possible --log-file="$log" \
            ./build/font_generator "$configuration" 2>/dev/null; then
            cat "$log" >&2
            echo "memcheck failed on $configuration" >&2
            exit 1
        fi
        echo "memcheck clean: $configuration"
    done
    # Every fuzz target for a bounded time (15 s each) from its seed corpus,
    # under ASan+UBSan.
    if ls tests/fuzz/*_fuzz.cpp >/dev/null 2>&1; then
        stage "fuzzing"
        CC=clang CXX=clang++ configure build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
            -DOV_SANITIZE=address -DOV_BUILD_FUZZ=ON -DOV_BUILD_TESTS=OFF
        targets=""
        for target in tests/fuzz/*_fuzz.cpp; do
            targets="$targets $(basename "$target" .cpp)"
        done
        cmake --build build-fuzz -j "$jobs" --target $targets
        for name in $targets; do
            corpus=$(mktemp -d)
            cp -r "tests/fuzz/corpus/$name/." "$corpus/" 2>/dev/null || true
            status=0
            "./build-fuzz/tests/fuzz/$name" -max_total_time="${OV_FUZZ_SECONDS:-15}" \
                -print_final_stats=1 "$corpus" >"build-fuzz/$name.log" 2>&1 || status=$?
            tail -n 12 "build-fuzz/$name.log"
            rm -rf "$corpus"
            [ "$status" -eq 0 ] || { echo "fuzz target $name failed" >&2; exit 1; }
        done
    fi
    stage "done"
    ;;
*)
    echo "usage: $0 run|test" >&2
    exit 2
    ;;
esac
