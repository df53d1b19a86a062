#!/usr/bin/env bash
# The installed package, as its users meet it: installs a build made with DORVEX_LIBRARY into a
# staging directory, builds examples/extract_memory.c against it three ways (pkg-config and the
# shared library, find_package and the shared library, find_package and the static library),
# checks that each gives the installed program's text and status for every test document, and
# makes the .deb with CPack and checks what it holds.
# Usage: tests/check_install.sh [BUILD_DIR]   (default build/package, made by the package preset)
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD
build=${1:-build/package}
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake --preset package -B "$build" >/dev/null
fi
cmake --build "$build" -j2 >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/dorvex-install-XXXXXX")
trap 'rm -rf "$work"' EXIT
stage=$work/stage
DESTDIR=$stage cmake --install "$build" >/dev/null
prefix=$stage$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")
libdir=$(sed -n 's/^CMAKE_INSTALL_LIBDIR:PATH=//p' "$build/CMakeCache.txt")
fail=0
failed() { echo "FAIL: $*"; fail=1; }

# What a user of the library finds installed.
for f in bin/dorvex include/dorvex.h "$libdir/libdorvex.a" "$libdir/libdorvex.so" \
         "$libdir/pkgconfig/dorvex.pc" "$libdir/cmake/dorvex/dorvexConfig.cmake" \
         "$libdir/cmake/dorvex/dorvexConfigVersion.cmake" share/dorvex/charsets/cp1252.txt \
         share/dorvex/charsets/ascii.spc; do
  [ -e "$prefix/$f" ] || failed "not installed: $f"
done
# The shared library exports the C interface and nothing else.
exported=$(nm -D --defined-only "$prefix/$libdir/libdorvex.so" | awk '$2 ~ /[TDBRW]/ {print $3}')
outside=$(grep -v '^dorvex_' <<<"$exported" || true)
[ -z "$outside" ] || failed "exported beyond the interface: $(head -3 <<<"$outside" | tr '\n' ' ')"
for fn in $(grep -o 'dorvex_[a-z_]*(' include/dorvex.h | tr -d '(' | sort -u); do
  grep -qx "$fn" <<<"$exported" || failed "not exported: $fn"
done

export PKG_CONFIG_PATH=$prefix/$libdir/pkgconfig
[ "$(pkg-config --modversion dorvex)" = "$(sed -n 's/^project(dorvex VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)" ] ||
  failed "pkg-config version: $(pkg-config --modversion dorvex)"
data=$(pkg-config --variable=datadir dorvex)
[ -f "$data/cp1252.txt" ] || failed "pkg-config datadir $data holds no tables"

# 1: pkg-config, shared library.
mkdir -p "$work/pc"
cc -Wall -Wextra -Werror examples/extract_memory.c $(pkg-config --cflags --libs dorvex) \
  -Wl,-rpath,"$(pkg-config --variable=libdir dorvex)" -o "$work/pc/extract_memory"
# 2 and 3: find_package, shared and static.
for link in shared static; do
  cmake -S examples -B "$work/$link" -DCMAKE_PREFIX_PATH="$prefix" -DDORVEX_LINK=$link \
    -DCMAKE_C_FLAGS="-Wall -Wextra -Werror" >/dev/null
  cmake --build "$work/$link" >/dev/null
done
ldd "$work/static/extract_memory" | grep -q libdorvex && failed "the static example loads libdorvex"
ldd "$work/shared/extract_memory" | grep -q libdorvex.so || failed "the shared example lacks libdorvex"

# Every document of the tests, and the program's text and status for each.
docs=()
while IFS= read -r -d '' f; do docs+=("$f"); done < <(
  find tests/data/good tests/data/bad -type f ! -name '*.txt' ! -name '*.md' -print0 | sort -z)
checked=0
for doc in "${docs[@]}"; do
  set +e
  HOME=$work LC_ALL=en_US.UTF-8 "$prefix/bin/dorvex" -d utf-8 -w "$doc" >"$work/want" 2>"$work/want.err"
  want_status=$?
  for kind in pc shared static; do
    "$work/$kind/extract_memory" -c "$data" "$doc" >"$work/got" 2>"$work/got.err"
    got_status=$?
    set -e
    cmp -s "$work/want" "$work/got" || failed "$kind: text of $doc differs"
    [ "$got_status" = "$want_status" ] || failed "$kind: status of $doc $got_status, program $want_status"
    # The program prefixes its messages with its name; the library gives them bare.
    sed 's/^dorvex: //' "$work/want.err" | cmp -s - <(sed 's/^dorvex: //' "$work/got.err") ||
      failed "$kind: messages of $doc differ"
    set +e
  done
  set -e
  checked=$((checked + 1))
done
echo "example matches the program on $checked documents, 3 builds"
[ "$checked" -gt 20 ] || failed "only $checked documents found"

# A damaged data directory is the example's message, not a crash.
set +e
"$work/pc/extract_memory" -c "$work/nowhere" tests/data/good/lo_letter.rtf >/dev/null 2>"$work/err"
status=$?
set -e
[ "$status" = 1 ] && grep -q . "$work/err" || failed "missing tables: status $status"

# The .deb: program, data and library, its dependencies worked out from the binaries.
(cd "$build" && cpack -G DEB -B "$work/deb" >/dev/null)
deb=$(ls "$work"/deb/dorvex_*.deb)
contents=$(dpkg-deb -c "$deb")
for f in ./usr/bin/dorvex ./usr/include/dorvex.h "./usr/$libdir/libdorvex.so" \
         "./usr/$libdir/libdorvex.a" ./usr/share/dorvex/charsets/cp1252.txt \
         "./usr/$libdir/pkgconfig/dorvex.pc"; do
  grep -q " $f" <<<"$contents" || failed ".deb lacks $f"
done
depends=$(dpkg-deb -f "$deb" Depends)
grep -q libexpat <<<"$depends" || failed ".deb Depends: $depends"
echo "$(basename "$deb"): $(wc -l <<<"$contents") entries, Depends: $depends"

[ "$fail" = 0 ] && echo "install check passed"
exit "$fail"
