#!/usr/bin/env bash
# The project's two entry points (see README.md):
#   ./run.sh demo   installs what is missing, builds, and runs the main job on a bundled example
#   ./run.sh test   installs what is missing, builds, runs every test, makes and checks the
#                   Debian package, runs the tests again under
#                   AddressSanitizer + UndefinedBehaviorSanitizer, then each fuzz target briefly,
#                   then cross-builds for Windows and runs the programs' tests under Wine
# and a few for developers:
#   ./run.sh build  configure and build into build/
#   ./run.sh bench  build and run the benchmarks
#   ./run.sh fuzz [SECONDS]  run every fuzz target for SECONDS each (default 60)
#   ./run.sh demo-ide  build and start the assembler source editor Pelda on a sample source
#   ./run.sh package   build (Release) and make the Debian package build-package/package/opxkit_*.deb
#   ./run.sh windows   cross-build for Windows (64- and 32-bit) and test the programs under Wine
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
  dpkg-dev lintian man-db desktop-file-utils
)
# The Windows cross-build (MinGW-w64) and Wine to test it; the 32-bit Wine (wine32:i386) comes
# separately, as it needs the i386 architecture (install_wine32).
WINDOWS_PACKAGES=(mingw-w64 libz-mingw-w64-dev wine wine64)
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
  # The tests of the Windows programs under Wine run in the Windows stage (windows_stage).
  (cd "$dir" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$JOBS" -LE wine) | tee "$dir/ctest.log" || status=$?
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

# make_package <dir>: the Debian package of a built tree, in <dir>/package/; prints its path.
make_package() {
  local dir=$1
  rm -rf "$dir/package"
  mkdir -p "$dir/package"
  if ! (cd "$dir" && cpack -G DEB -B "$ROOT/$dir/package" >"$ROOT/$dir/package/cpack.log" 2>&1); then
    cat "$dir/package/cpack.log" >&2
    echo "run.sh: cpack could not make the package" >&2
    return 1
  fi
  local deb
  deb=$(ls "$ROOT/$dir"/package/opxkit_*.deb)
  echo "$deb"
}

# check_package <deb> <build dir>: the package's control data and file list, lintian's view of
# it, and, as root on a machine without opxkit installed, an installation with dpkg -i, a use
# of it, and its removal, which must leave nothing behind.
check_package() {
  local deb=$1 dir=$2 failures=0 version
  fail() {
    echo "package: $*" >&2
    failures=$((failures + 1))
  }
  dpkg-deb -I "$deb" >"$dir/package/info.txt"
  dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|' >"$dir/package/files.txt"
  grep -E '^ (Package|Version|Architecture|Depends):' "$dir/package/info.txt"
  grep -q '^ Depends:.*libc6' "$dir/package/info.txt" || fail "no dependencies were computed"
  if [ -x "$dir/bin/Pelda" ]; then
    grep -q '^ Depends:.*libqt6widgets6' "$dir/package/info.txt" || fail "Qt is not among the dependencies"
  fi
  local programs=() p f
  for p in opx bren ufx cpconv vrl Pelda opxwin; do
    [ -x "$dir/bin/$p" ] && programs+=("$p")
  done
  local wanted=(/usr/lib/libcodexa.so /usr/lib/libopxcore.so /usr/include/opxkit/opxcore.h
                /usr/include/opxkit/codexa.h /usr/include/opxkit/runtime/connection.h
                /usr/lib/pkgconfig/opxkit.pc /usr/share/doc/opxkit/copyright
                /usr/share/doc/opxkit/changelog.Debian.gz /usr/share/doc/opxkit/README.md)
  for p in "${programs[@]}"; do
    wanted+=("/usr/bin/$p" "/usr/share/man/man1/$p.1.gz")
  done
  for p in opx bren ufx cpconv vrl; do
    [ -x "$dir/bin/$p" ] && wanted+=("/usr/share/bash-completion/completions/$p")
  done
  if [ -x "$dir/bin/Pelda" ]; then
    wanted+=(/usr/share/applications/Pelda.desktop /usr/share/icons/hicolor/scalable/apps/Pelda.svg
             /usr/share/opxkit/PeldaTips.txt /usr/share/opxkit/doc/zrh.htm)
  fi
  if [ -x "$dir/bin/opxwin" ]; then
    wanted+=(/usr/share/applications/opxwin.desktop /usr/share/icons/hicolor/scalable/apps/opxwin.svg
             /usr/lib/libopxbridge.so /usr/lib/libbrenbridge.so /usr/share/opxkit/doc/opxmin.gif)
  fi
  for f in "${wanted[@]}"; do
    grep -qxF "$f" "$dir/package/files.txt" || fail "$f is not in the package"
  done
  grep -v '^/usr/' "$dir/package/files.txt" | grep -v '^/$' | sed 's/^/outside \/usr: /' >&2 &&
    fail "the package puts files outside /usr"
  grep '^/usr/bin/.' "$dir/package/files.txt" | grep -vE '^/usr/bin/(opx|bren|ufx|cpconv|vrl|Pelda|opxwin)$' >&2 &&
    fail "the package carries programs that are not the toolkit's"
  echo "$(grep -vc '/$' "$dir/package/files.txt") files in $(basename "$deb")"
  local entry
  for entry in $(grep '^/usr/share/applications/.*\.desktop$' "$dir/package/files.txt"); do
    dpkg-deb --fsys-tarfile "$deb" | tar -xOf - ".$entry" >"$dir/package/$(basename "$entry")"
    desktop-file-validate --no-hints "$dir/package/$(basename "$entry")" || fail "$entry is not a valid desktop entry"
  done

  if command -v lintian >/dev/null; then
    log "lintian $(basename "$deb")"
    lintian --info --tag-display-limit 0 "$deb" >"$dir/package/lintian.txt" 2>&1 || true
    grep -E '^[EWI]: ' "$dir/package/lintian.txt" | cut -d' ' -f1,3 | sort | uniq -c | sort -rn || true
    echo "(lintian's full report: $dir/package/lintian.txt)"
  fi

  if [ "$(id -u)" -ne 0 ]; then
    echo "package: the installation with dpkg -i is left out: it needs root" >&2
  elif dpkg-query -W -f='${db:Status-Status}' opxkit 2>/dev/null | grep -qvE '^(not-installed|config-files)$'; then
    echo "package: the installation with dpkg -i is left out: opxkit is installed on this machine already" >&2
  else
    log "dpkg -i, use, dpkg -r"
    if dpkg -i "$deb" >"$dir/package/dpkg-install.log" 2>&1; then
      dpkg -L opxkit >"$dir/package/installed.txt"
      [ "$(command -v opx)" = /usr/bin/opx ] || fail "opx is not /usr/bin/opx once installed"
      /usr/bin/opx --help >/dev/null || fail "the installed opx --help failed"
      [ "$(man -w opx)" = /usr/share/man/man1/opx.1.gz ] || fail "man -w opx does not find the page"
      version=$(dpkg-deb -f "$deb" Version)
      [ "$(pkg-config --modversion opxkit)" = "${version%-*}" ] ||
        fail "pkg-config does not give the installed version"
      dpkg -r opxkit >"$dir/package/dpkg-remove.log" 2>&1 || fail "dpkg -r opxkit failed"
      # dpkg forgets a removed package that has no configuration files and no postrm.
      case $(dpkg-query -W -f='${db:Status-Status}' opxkit 2>/dev/null) in
      '' | not-installed) ;;
      *) fail "opxkit is not fully removed: $(dpkg-query -W -f='${db:Status-Status}' opxkit)" ;;
      esac
      # Every file and every folder of the package's own is gone.
      while IFS= read -r f; do
        [ -d "$f" ] && continue
        [ -e "$f" ] || [ -L "$f" ] && fail "$f is left after dpkg -r"
      done <"$dir/package/installed.txt"
      for f in /usr/include/opxkit /usr/share/opxkit /usr/share/doc/opxkit; do
        [ -e "$f" ] && fail "$f is left after dpkg -r"
      done
      [ "$failures" -eq 0 ] && echo "installed with dpkg -i, used, and removed with dpkg -r without a trace"
    else
      cat "$dir/package/dpkg-install.log" >&2
      fail "dpkg -i failed"
      dpkg -r opxkit >/dev/null 2>&1 || true
    fi
  fi
  [ "$failures" -eq 0 ]
}

# install_wine32: the 32-bit Wine loader, for the 32-bit build's tests. It needs the i386
# architecture in dpkg; false when it cannot be had (the 32-bit build is then only built and
# its export tables checked).
install_wine32() {
  dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed' && return 0
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  log "installing wine32:i386 (adds the i386 architecture)"
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" dpkg --add-architecture i386 &&
    "${sudo[@]}" apt-get update -q &&
    "${sudo[@]}" apt-get install -y -q --no-install-recommends wine32:i386
}

# windows_stage: cross-builds both Windows builds with warnings as errors, checks their DLLs'
# export tables, makes their zips, and runs the command-line tests with their programs under
# Wine from the Linux build in build/.
windows_stage() {
  local started=$SECONDS
  install_packages "${WINDOWS_PACKAGES[@]}"
  # The 32-bit build runs under Wine's 32-bit loader only where it can be installed and the
  # kernel runs 32-bit programs (some virtual machines' kernels do not: "Exec format error").
  local wine32=yes
  if ! install_wine32; then
    wine32=no
    log "wine32:i386 cannot be installed here: the 32-bit build is built and its exports checked, not run under Wine"
  elif ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    wine32=no
    log "Wine's 32-bit loader does not run on this machine (its kernel runs no 32-bit programs): the 32-bit build is built and its exports checked, not run under Wine"
  fi
  # Wine keeps its own Windows installation (a prefix); a private one, made before the tests
  # run in parallel, so that they do not race to create it. The 64-bit loader is named in
  # full: /usr/bin/wine prefers the 32-bit one when wine32 is installed.
  export WINEPREFIX=$ROOT/build/wine-prefix WINEDEBUG=-all
  local arch builds=()
  for arch in x86_64:win64 i686:win32; do
    local dir=build-${arch#*:}
    log "Windows build ${arch#*:} (MinGW-w64, warnings are errors)"
    configure "$dir" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-${arch%%:*}-w64-mingw32.cmake" \
      -DOPX_TESTS=OFF -DOPX_BENCH=OFF -DOPX_GUI=OFF -DOPX_MANPAGES=OFF
    cmake --build "$dir" -j "$JOBS"
    log "${arch#*:}: the export tables of the DLLs"
    (cd "$dir" && ctest --output-on-failure -j "$JOBS")
    cmake --build "$dir" --target windows_zip
    if [ "${arch#*:}" = win64 ] || [ "$wine32" = yes ]; then
      builds+=("$ROOT/$dir")
    fi
  done
  log "the command-line tests under Wine (${builds[*]##*/})"
  local list
  list=$(IFS=';'; echo "${builds[*]}")
  configure build "-DOPX_WINDOWS_BUILDS=$list"
  local targets=(opx) b
  for b in "${builds[@]}"; do targets+=("wine_cli_tests_${b##*/build-}"); done
  cmake --build build -j "$JOBS" --target "${targets[@]}"
  mkdir -p "$WINEPREFIX"
  /usr/lib/wine/wine64 wineboot.exe -i >/dev/null 2>&1 || true
  (cd build && ctest --output-on-failure -j "$JOBS" -L wine)
  log "Windows stage done in $(((SECONDS - started + 30) / 60)) minutes; zips: $(ls build-win*/opxkit-*.zip | tr '\n' ' ')"
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
    log "the Debian package"
    SECONDS=0
    check_package "$(make_package build)" build
    echo "(the package stage took ${SECONDS}s)"
    log "build with AddressSanitizer and UndefinedBehaviorSanitizer"
    build build-asan -DOPX_SANITIZE=ON -DOPX_BENCH=OFF
    log "tests under the sanitizers"
    ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1} run_tests build-asan
    fuzz_all "${FUZZ_SECONDS:-5}"
    # The Windows cross-builds and the Wine tests (about 7 minutes on a fresh machine, package
    # installation included); OPX_WINDOWS=0 leaves them out.
    if [ "${OPX_WINDOWS:-1}" = 0 ]; then
      log "the Windows stage is left out (OPX_WINDOWS=0)"
    else
      windows_stage
    fi
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
  package)
    # The command-line and window programs in Release, without tests or benchmarks.
    install_packages
    configure build-package -DCMAKE_BUILD_TYPE=Release -DOPX_TESTS=OFF -DOPX_BENCH=OFF
    log "building"
    cmake --build build-package -j "$JOBS"
    log "packaging"
    deb=$(make_package build-package)
    dpkg-deb -I "$deb" | grep -E '^ (Package|Version|Architecture|Depends):'
    echo "$deb"
    ;;
  windows)
    install_packages "${BASE_PACKAGES[@]}" libgtest-dev libgmock-dev
    windows_stage
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
    sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'
    [ -z "$cmd" ] && exit 2
    echo "unknown command: $cmd" >&2
    exit 2
    ;;
esac
