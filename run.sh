#!/usr/bin/env bash
# The project's two entry points (see README.md):
#   ./run.sh demo   installs what is missing, builds, and runs the main job on a bundled example
#   ./run.sh test   installs what is missing, builds, runs every test, then again under
#                   AddressSanitizer + UndefinedBehaviorSanitizer, then each fuzz target briefly
# and a few for developers:
#   ./run.sh build  configure and build into build/
#   ./run.sh bench  build and run the benchmarks
#   ./run.sh fuzz [SECONDS]  run every fuzz target for SECONDS each (default 60)
#   ./run.sh demo-ide  build and start the assembler source editor Pelda on a sample source
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$(pwd)
JOBS=${JOBS:-2}

# What the command-line programs need to build (enough for the demo), then what the tests,
# benchmarks, fuzz targets and window programs need besides.
BASE_PACKAGES=(
  build-essential cmake ninja-build pkg-config python3 binutils file
  libcli11-dev nlohmann-json3-dev zlib1g-dev libbz2-dev
)
PACKAGES=(
  "${BASE_PACKAGES[@]}"
  clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev libgl-dev xvfb xauth fonts-dejavu-core
)
# The programs the demo runs.
DEMO_TARGETS=(opx bren cpconv ufx)

log() { printf '\n==> %s\n' "$*" >&2; }

# install_packages [PACKAGE...]: installs those that are missing (default: every package).
install_packages() {
  local missing=() wanted=("$@")
  [ ${#wanted[@]} -eq 0 ] && wanted=("${PACKAGES[@]}")
  for p in "${wanted[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$p")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  log "installing ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get update -q
  "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# configure <dir> [cmake args...]
configure() {
  local dir=$1
  shift
  cmake -S "$ROOT" -B "$dir" -G Ninja -DOPX_WERROR=ON "$@" >/dev/null
}

build() {
  local dir=$1
  shift
  configure "$dir" "$@"
  cmake --build "$dir" -j "$JOBS"
}

# run_tests <dir>: runs every test; adds the number of tests that skipped to SKIPPED.
SKIPPED=0
run_tests() {
  local dir=$1 status=0
  (cd "$dir" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$JOBS") | tee "$dir/ctest.log" || status=$?
  SKIPPED=$((SKIPPED + $(grep -c '\*\*\*Skipped' "$dir/ctest.log" || true)))
  return "$status"
}

# The shared folder beside the project holds the corpus of real files and the published tables
# that many tests read. On a user's machine those tests skip without it; CI must have it.
require_shared_in_ci() {
  if [ "${CI:-}" = true ] && [ ! -d "$ROOT/../shared/corpus" ]; then
    echo "run.sh: CI needs the shared folder beside the project ($ROOT/../shared, with corpus/," >&2
    echo "codepages/ and ucd/); without it the corpus and table tests would only skip." >&2
    exit 1
  fi
}

fuzz_all() {
  local seconds=$1
  local dir=build-fuzz
  log "building the fuzz targets with clang"
  build "$dir" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DOPX_FUZZ=ON \
        -DOPX_TESTS=OFF -DOPX_BENCH=OFF -DOPX_GUI=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo
  local t
  for t in "$dir"/bin/fuzz_*; do
    [ -x "$t" ] || continue
    local name corpus
    name=$(basename "$t")
    corpus="$dir/corpus/$name"
    mkdir -p "$corpus"
    # Seed folders: fuzz/<name>.seeds lists them (relative to the project; missing ones, such
    # as the shared corpus on a user's machine, are left out).
    local seeds=() line
    if [ -f "$ROOT/fuzz/${name#fuzz_}.seeds" ]; then
      while IFS= read -r line; do
        [ -n "$line" ] && [ -d "$ROOT/$line" ] && seeds+=("$ROOT/$line")
      done <"$ROOT/fuzz/${name#fuzz_}.seeds"
    fi
    log "fuzzing $name for ${seconds}s"
    # The length limit is that of the longest seed (at least 64 KiB), so that no seed is cut: a
    # transmit file cut to a length that is not a multiple of 80 is refused at once.
    local longest=65536 size
    while IFS= read -r size; do
      [ "$size" -gt "$longest" ] && longest=$size
    done < <(find "$corpus" "${seeds[@]}" -type f -printf '%s\n')
    if ! "$t" -max_total_time="$seconds" -max_len="$longest" -print_final_stats=1 -artifact_prefix="$dir/" \
         "$corpus" "${seeds[@]}" \
         >"$dir/$name.log" 2>&1; then
      tail -n 40 "$dir/$name.log" >&2
      echo "fuzz target $name failed" >&2
      return 1
    fi
    grep -E '^(Done|stat::number_of_executed_units)' "$dir/$name.log" || true
  done
}

cmd=${1:-}
case "$cmd" in
  test)
    require_shared_in_ci
    install_packages
    log "build (warnings are errors)"
    build build
    log "tests"
    run_tests build
    log "build with AddressSanitizer and UndefinedBehaviorSanitizer"
    build build-asan -DOPX_SANITIZE=ON -DOPX_BENCH=OFF
    log "tests under the sanitizers"
    ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1} run_tests build-asan
    fuzz_all "${FUZZ_SECONDS:-5}"
    if [ "$SKIPPED" -gt 0 ]; then
      log "all tests passed; $SKIPPED skipped (they need ../shared beside the project)"
    else
      log "all tests passed, none skipped"
    fi
    ;;
  demo)
    # Only what the demo runs: the command-line programs, in a build folder of their own.
    install_packages "${BASE_PACKAGES[@]}"
    configure build-demo -DOPX_TESTS=OFF -DOPX_BENCH=OFF -DOPX_GUI=OFF
    log "building ${DEMO_TARGETS[*]}"
    cmake --build build-demo -j "$JOBS" --target "${DEMO_TARGETS[@]}" >/dev/null
    exec "$ROOT/tools/demo.sh" "$ROOT/build-demo/bin"
    ;;
  build)
    install_packages
    build build
    ;;
  bench)
    install_packages
    build build -DCMAKE_BUILD_TYPE=Release
    for b in build/bin/bench_*; do
      [ -x "$b" ] || continue
      log "$(basename "$b")"
      "$b"
    done
    ;;
  fuzz)
    install_packages
    fuzz_all "${2:-60}"
    ;;
  demo-ide)
    # Pelda with the stand-in assembler as "zora" in a demo installation directory of its own,
    # and a profile folder of its own, so that the user's settings stay untouched.
    install_packages
    dir=${PELDA_BUILD_DIR:-build}
    configure "$dir"
    cmake --build "$dir" -j "$JOBS" --target Pelda zora_standin >/dev/null
    demo=$ROOT/$dir/demo-ide
    rm -rf "$demo"
    mkdir -p "$demo/install/doc" "$demo/config/opxkit" "$demo/src"
    ln -s "$ROOT/$dir/bin/zora_standin" "$demo/install/zora"
    cp src/ide/PeldaTips.txt "$demo/install/"
    cp src/ide/demo/doc/*.htm "$demo/install/doc/"
    cp src/ide/demo/sample.390 src/ide/demo/REGSAVE.mac "$demo/src/"
    printf '[General]\nPath=%s\n' "$demo/install" >"$demo/config/opxkit/Pelda.conf"
    if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
      echo "Pelda needs a display (DISPLAY is not set): run this on a desktop," >&2
      echo "or look at the screenshots that './run.sh test' leaves in build/tests/ide/screenshots/." >&2
      exit 1
    fi
    log "Pelda on $demo/src/sample.390 (press F7 to assemble; the stand-in assembler is $demo/install/zora)"
    XDG_CONFIG_HOME="$demo/config" ZORA_STANDIN_DELAY_MS=${ZORA_STANDIN_DELAY_MS:-1500} \
      exec "$ROOT/$dir/bin/Pelda" "$demo/src/sample.390"
    ;;
  *)
    sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'
    [ -z "$cmd" ] && exit 2
    echo "unknown command: $cmd" >&2
    exit 2
    ;;
esac
