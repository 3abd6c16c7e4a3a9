#!/usr/bin/env bash
# Installs the build into a temporary prefix, moves the prefix elsewhere, and uses everything
# from there: every program's --help, a transmit file made by bren and listed and extracted by
# opx, a conversion by cpconv, the window program's bridges, the manual pages, and a C program
# built against the installation through pkg-config.
#
#   relocated_install.sh BUILD_DIR WORK_DIR
#
# Nothing may reach back into the build tree: LD_LIBRARY_PATH is cleared, and the build tree is
# checked to appear in no run path.
set -uo pipefail
build=$1
work=$2
here=$(cd "$(dirname "$0")" && pwd)
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
unset LD_LIBRARY_PATH LD_PRELOAD

rm -rf "$work"
mkdir -p "$work"
if ! cmake --install "$build" --prefix "$work/first" >"$work/install.log" 2>&1; then
    cat "$work/install.log" >&2
    echo "FAIL: cmake --install" >&2
    exit 1
fi
mkdir -p "$work/elsewhere/deeper"
mv "$work/first" "$work/elsewhere/deeper/prefix"
P=$work/elsewhere/deeper/prefix
echo "installed into $work/first, moved to $P"

# ---- the layout ---------------------------------------------------------------------------
programs=()
for p in opx bren ufx cpconv vrl Pelda opxwin; do
    [ -e "$build/bin/$p" ] && programs+=("$p")
done
for p in "${programs[@]}"; do
    [ -x "$P/bin/$p" ] || fail "$p is not in bin/"
    [ -f "$P/share/man/man1/$p.1.gz" ] || fail "no manual page for $p"
done
for f in lib/libcodexa.so lib/libopxcore.so include/opxkit/codexa.h include/opxkit/opxcore.h \
         include/opxkit/runtime/connection.h include/opxkit/platform/export.h \
         lib/pkgconfig/opxkit.pc share/doc/opxkit/README.md share/doc/opxkit/copyright \
         share/bash-completion/completions/opx; do
    [ -f "$P/$f" ] || fail "$f is missing"
done
if [ -e "$build/bin/Pelda" ]; then
    for f in share/opxkit/PeldaTips.txt share/opxkit/doc/zrh.htm share/applications/Pelda.desktop \
             share/icons/hicolor/scalable/apps/Pelda.svg; do
        [ -f "$P/$f" ] || fail "$f is missing"
    done
fi
if [ -e "$build/bin/opxwin" ]; then
    for f in share/opxkit/doc/opxmin.gif lib/libopxbridge.so lib/libbrenbridge.so \
             share/applications/opxwin.desktop share/icons/hicolor/scalable/apps/opxwin.svg; do
        [ -f "$P/$f" ] || fail "$f is missing"
    done
fi
# Nothing of the tests, benchmarks or developer tools.
for f in "$P"/bin/*; do
    case $(basename "$f") in
    opx | bren | ufx | cpconv | vrl | Pelda | opxwin) ;;
    *) fail "bin/ holds $(basename "$f"), which is no program of the toolkit" ;;
    esac
done

# ---- run paths: relative to the file, never the build tree ----------------------------------
if command -v readelf >/dev/null; then
    for f in "$P"/bin/* "$P"/lib/*.so; do
        runpath=$(readelf -d "$f" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p; s/.*(RPATH).*\[\(.*\)\]/\1/p')
        case $runpath in
        *"$build"*) fail "$(basename "$f") has the run path $runpath" ;;
        esac
        case $(basename "$f") in
        Pelda | opxwin) [ -z "$runpath" ] || fail "$(basename "$f") has a run path: $runpath" ;;
        *.so) [ "$runpath" = '$ORIGIN' ] || fail "$(basename "$f") has the run path '$runpath'" ;;
        *) [ "$runpath" = '$ORIGIN/../lib' ] || fail "$(basename "$f") has the run path '$runpath'" ;;
        esac
    done
fi
for p in opx bren ufx cpconv vrl; do
    [ -x "$P/bin/$p" ] || continue
    ldd "$P/bin/$p" >"$work/ldd.txt" 2>&1
    if grep -q 'not found' "$work/ldd.txt"; then
        fail "$p: a library is not found"
        cat "$work/ldd.txt" >&2
    fi
    # Every library of ours comes from the moved prefix.
    while read -r lib _ path _; do
        case $lib in
        libcodexa.so | libopxcore.so | libbrencore.so | libufxcore.so | libvrlcore.so)
            [ "$(readlink -f "$path")" = "$(readlink -f "$P/lib/$lib")" ] ||
                fail "$p takes $lib from $path"
            ;;
        esac
    done <"$work/ldd.txt"
done

# ---- every program answers --help from the moved prefix --------------------------------------
for p in "${programs[@]}"; do
    if ! out=$(cd "$work" && "$P/bin/$p" --help 2>&1); then
        fail "$p --help failed: $out"
    elif ! grep -q 'Usage' <<<"$out"; then
        fail "$p --help printed no usage: $out"
    fi
done

# ---- a transmit file made by bren, listed and extracted by opx ----------------------------------
if [ -x "$P/bin/bren" ] && [ -x "$P/bin/opx" ]; then
    mkdir -p "$work/src"
    printf 'HELLO    CSECT\n         BR    14\n         END\n' >"$work/src/HELLO.asm"
    printf '//JOB1     JOB\n' >"$work/src/JOB1.asm"
    (
        cd "$work" &&
            "$P/bin/bren" create lib.xmi --dsn USER.TEST.ASM 'src/&M.asm' &&
            "$P/bin/opx" list lib.xmi >list.txt &&
            "$P/bin/opx" extract lib.xmi --strip -o 'out/&M.asm' >extract.txt
    ) || fail "bren create, opx list or opx extract failed"
    for m in HELLO JOB1; do
        grep -q "^$m " "$work/list.txt" || fail "opx list does not show $m"
        cmp -s "$work/src/$m.asm" "$work/out/$m.asm" || fail "$m came back changed"
    done
fi

# ---- cpconv with the code page tables of the moved libcodexa ----------------------------------
if [ -x "$P/bin/cpconv" ]; then
    got=$(printf 'HELLO' | "$P/bin/cpconv" -f 819 -t 1047 | od -An -tx1 | tr -d ' \n')
    [ "$got" = c8c5d3d3d6 ] || fail "cpconv gave $got for HELLO in 1047"
fi

# ---- the window program finds its bridges and pictures in the moved prefix -----------------------
if [ -x "$P/bin/opxwin" ] && [ -n "${QT_QPA_PLATFORM:-}" ]; then
    # Started on the transmit file, it opens its window; SIGTERM closes it. A bridge that could
    # not be loaded is written on standard error.
    (cd "$work" && timeout -k 5 4 "$P/bin/opxwin" lib.xmi >opxwin.out 2>&1)
    if grep -q 'could not be loaded\|not found in' "$work/opxwin.out"; then
        fail "opxwin did not load its bridges from $P/lib:"
        cat "$work/opxwin.out" >&2
    fi
fi

# ---- manual pages: they render without a warning, with the hand-written examples --------------
if command -v man >/dev/null; then
    for p in "${programs[@]}"; do
        page=$P/share/man/man1/$p.1.gz
        text=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>"$work/man.err")
        [ -s "$work/man.err" ] && fail "man $p: $(cat "$work/man.err")"
        grep -q '^EXAMPLES' <<<"$text" || fail "the manual page of $p has no EXAMPLES"
        case $p in
        Pelda | opxwin) ;;
        *) grep -q -- '--help' <<<"$text" || fail "the manual page of $p lists no options" ;;
        esac
    done
    # man finds them by name below the moved prefix.
    [ "$(MANPATH=$P/share/man man -w opx)" = "$P/share/man/man1/opx.1.gz" ] ||
        fail "man -w opx does not find the installed page"
fi

# ---- a C program built against the moved installation through pkg-config -----------------------
if command -v pkg-config >/dev/null && command -v cc >/dev/null; then
    export PKG_CONFIG_PATH=$P/lib/pkgconfig
    [ "$(pkg-config --modversion opxkit)" = "$(sed -n 's/^Version: //p' "$P/lib/pkgconfig/opxkit.pc")" ] ||
        fail "pkg-config does not find opxkit"
    # The sanitizers' run time comes from the program; a probe linked with sanitized libraries
    # needs it too.
    probe_flags=()
    if nm -D "$P/lib/libcodexa.so" 2>/dev/null | grep -q __asan_; then
        probe_flags=(-fsanitize=address,undefined)
    fi
    # shellcheck disable=SC2046
    cc -std=c11 -Wall -Werror -DPROBE_ALL_HEADERS $(pkg-config --cflags opxkit) -c \
        "$here/pkgconfig_probe.c" -o "$work/headers.o" || fail "the public headers do not compile as C"
    for pair in opxcore:pszOpxDllConnect brencore:pszBrenDllConnect ufxcore:pszDllConnect \
                vrlcore:pszDllConnect; do
        core=${pair%%:*}
        [ -f "$P/lib/lib$core.so" ] || continue
        # shellcheck disable=SC2046
        if ! cc -std=c11 -Wall -Werror "${probe_flags[@]}" -DPROBE_HEADER="\"$core.h\"" \
            -DPROBE_CORE="${pair#*:}" $(pkg-config --cflags opxkit-$core) \
            "$here/pkgconfig_probe.c" -o "$work/probe-$core" $(pkg-config --libs opxkit-$core) \
            -Wl,-rpath,"$P/lib"; then
            fail "a program of opxkit-$core does not build"
            continue
        fi
        out=$("$work/probe-$core") || fail "the probe of $core failed"
        module=$(sed -n 2p <<<"$out")
        [ "$(readlink -f "$module")" = "$(readlink -f "$P/lib/lib$core.so")" ] ||
            fail "the probe of $core was answered by $module"
        [ "$(sed -n 3p <<<"$out")" = Q ] || fail "codexa upper-cased q as $(sed -n 3p <<<"$out")"
    done
fi

if [ "$failures" -gt 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "the moved installation works"
