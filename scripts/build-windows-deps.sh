#!/usr/bin/env bash
# Cross-builds, for 64-bit Windows with Debian's mingw-w64 (posix threads), the libraries the
# window program and the workbook code need, from Debian's own source packages of the same
# versions the Linux build uses (read from the installed -dev packages). Every library is a
# static library installed into its own folder of a cache outside the checkout:
#   ${VQ31_WINDOWS_DEPS:-$HOME/.cache/vq31-windows-deps}/<package>-<debian version>/
# with a stamp file written last; a library is rebuilt only when its version, its recipe number
# below, the toolchain file or a library it is built against changes. Stages run smallest first
# and the script stops at the first one that fails, naming it and showing the end of its log.
# At the end, and after a failure, it writes prefixes.cmake into the cache: configure the
# project with -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_PROJECT_INCLUDE=<that file>
# (or pass the printed -DCMAKE_PREFIX_PATH and set the rest by hand).
#
#   scripts/build-windows-deps.sh            all stages
#   scripts/build-windows-deps.sh freexl     only the named stages (in the usual order)
# VQ31_WINDOWS_DEPS_JOBS sets the parallel jobs (default 2); run it under `nice -n 19` on a
# shared machine.
# shellcheck disable=SC2016 # ${...} in single quotes is meant for CMake and pkg-config
# shellcheck disable=SC2034 # recipe_<stage> is read through ${!name}
set -euo pipefail
host=x86_64-w64-mingw32

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"

# apt-get source needs source entries for the release the binary packages come from.
ensure_deb_src() {
    if apt-get indextargets --format '$(CREATED_BY)' 2>/dev/null | grep -qx Sources; then
        return 0
    fi
    local list=/etc/apt/sources.list.d/vq31-deb-src.sources
    echo "Adding Debian source entries in $list"
    local suites
    # shellcheck source=/dev/null
    suites=$(. /etc/os-release && echo "$VERSION_CODENAME $VERSION_CODENAME-updates")
    printf '%s\n' "Types: deb-src" "URIs: http://deb.debian.org/debian" "Suites: $suites" \
        "Components: main" "Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg" |
        $sudo tee "$list" >/dev/null
    $sudo apt-get update -qq
}

# The Debian source version behind an installed binary package (binary rebuilds add +bN).
source_version() {
    dpkg-query -W -f='${source:Version}' "$1" 2>/dev/null || {
        echo "$1 is not installed; scripts/deps.sh installs it" >&2
        return 1
    }
}

# Downloads (once) and unpacks a fresh copy of a source package with Debian's patches applied;
# prints the unpacked folder. With "keep" as third argument a complete copy left by an earlier
# failed or changed build is used again, so that its build folder only rebuilds what changed.
unpack_source() {
    local pkg=$1 version=$2 keep=${3:-}
    local dir=$work/$pkg-$version
    if [ "$keep" = keep ] && [ -f "$dir/.vq31-unpacked" ]; then
        echo "$dir"
        return 0
    fi
    local dsc=$work/src/${pkg}_${version#*:}.dsc
    # apt-get keeps files already there whose checksums match the .dsc, so files copied into
    # $work/src by hand are used as they are.
    (cd "$work/src" && apt-get source --download-only "$pkg=$version") >&2 || {
        echo "apt-get source $pkg=$version could not fetch every file the .dsc lists;" \
            "put them into $work/src by hand (their checksums are checked)" >&2
        return 1
    }
    rm -rf "$dir"
    dpkg-source --no-copy -x "$dsc" "$dir" >&2
    touch "$dir/.vq31-unpacked"
    echo "$dir"
}

# ---- the stages ------------------------------------------------------------------------------
# Each build_<stage> runs in a subshell with: $src (unpacked source), $prefix (install folder),
# $build (a build folder) and the prefixes of the stages before it.

cmake_cross() {
    VQ31_WINDOWS_DEPS_PREFIXES=$(IFS=';' && echo "${prefixes[*]:-}") \
        cmake -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$prefix" "$@"
}

# C library writing .xlsx files; its own minizip and MD5 code stand in for the system ones
# Debian links on Linux.
recipe_libxlsxwriter=1
build_libxlsxwriter() {
    cmake_cross -S "$src" -B "$build" -DBUILD_SHARED_LIBS=OFF -DBUILD_TESTS=OFF \
        -DBUILD_EXAMPLES=OFF -DUSE_SYSTEM_MINIZIP=OFF -DUSE_OPENSSL_MD5=OFF
    cmake --build "$build" -j "$jobs"
    cmake --install "$build"
}

# FreeXL converts the text of .xls files with iconv, which mingw-w64 lacks and Debian has no
# Windows build of. The small iconv below sits on the Windows code page functions and covers
# what FreeXL asks for: the code pages of old workbooks and UTF-16LE into UTF-8, a whole string
# per call (it never leaves a partial conversion behind). It is installed beside FreeXL as
# libiconv.a and is checked under Wine when Wine is installed.
write_iconv() {
    mkdir -p "$1/include" "$1/src"
    cat >"$1/include/iconv.h" <<'EOF'
#ifndef VQ31_ICONV_H
#define VQ31_ICONV_H
#include <stddef.h>
typedef void *iconv_t;
iconv_t iconv_open(const char *tocode, const char *fromcode);
size_t iconv(iconv_t cd, char **inbuf, size_t *inbytesleft, char **outbuf, size_t *outbytesleft);
int iconv_close(iconv_t cd);
#endif
EOF
    cat >"$1/include/localcharset.h" <<'EOF'
#ifndef VQ31_LOCALCHARSET_H
#define VQ31_LOCALCHARSET_H
const char *locale_charset(void);
#endif
EOF
    cat >"$1/src/iconv.c" <<'EOF'
#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include "iconv.h"
#include "localcharset.h"

enum { utf16le = 1200, utf8 = 65001 };

struct converter {
    UINT from;
    UINT to;
};

/* Code page number for an iconv encoding name, 0 when unknown. */
static UINT code_page(const char *name)
{
    static const struct {
        const char *name;
        UINT page;
    } names[] = {{"UTF-8", utf8},      {"UTF8", utf8},       {"UTF-16LE", utf16le},
                 {"ASCII", 20127},     {"US-ASCII", 20127},  {"MACROMAN", 10000},
                 {"MACINTOSH", 10000}, {"ISO-8859-1", 28591}};
    for (size_t i = 0; i < sizeof names / sizeof names[0]; ++i)
        if (_stricmp(name, names[i].name) == 0)
            return names[i].page;
    const char *digits = NULL;
    if (_strnicmp(name, "CP", 2) == 0)
        digits = name + 2;
    else if (_strnicmp(name, "WINDOWS-", 8) == 0)
        digits = name + 8;
    if (digits == NULL || *digits < '0' || *digits > '9')
        return 0;
    char *end = NULL;
    unsigned long page = strtoul(digits, &end, 10);
    if (*end != '\0' || page == 0 || page > 65535 || !IsValidCodePage((UINT)page))
        return 0;
    return (UINT)page;
}

iconv_t iconv_open(const char *tocode, const char *fromcode)
{
    UINT to = code_page(tocode), from = code_page(fromcode);
    struct converter *c = to != 0 && from != 0 ? malloc(sizeof *c) : NULL;
    if (c == NULL) {
        errno = to != 0 && from != 0 ? ENOMEM : EINVAL;
        return (iconv_t)-1;
    }
    c->from = from;
    c->to = to;
    return c;
}

int iconv_close(iconv_t cd)
{
    if (cd == NULL || cd == (iconv_t)-1) {
        errno = EBADF;
        return -1;
    }
    free(cd);
    return 0;
}

static size_t fail(WCHAR *wide, int error)
{
    free(wide);
    errno = error;
    return (size_t)-1;
}

/* Converts the whole input or nothing: EILSEQ for bytes that are not valid in the source
   code page or characters the target cannot hold, E2BIG when the output does not fit. */
size_t iconv(iconv_t cd, char **inbuf, size_t *inbytesleft, char **outbuf, size_t *outbytesleft)
{
    const struct converter *c = cd;
    if (inbuf == NULL || *inbuf == NULL || *inbytesleft == 0)
        return 0;
    if (*inbytesleft > INT_MAX / 2)
        return fail(NULL, E2BIG);
    int in_len = (int)*inbytesleft, wide_len = in_len / 2;
    if (c->from == utf16le && in_len % 2 != 0)
        return fail(NULL, EINVAL);
    if (c->from != utf16le &&
        (wide_len = MultiByteToWideChar(c->from, MB_ERR_INVALID_CHARS, *inbuf, in_len, NULL, 0)) <= 0)
        return fail(NULL, EILSEQ);
    WCHAR *wide = malloc((size_t)wide_len * sizeof(WCHAR));
    if (wide == NULL)
        return fail(NULL, ENOMEM);
    if (c->from == utf16le)
        memcpy(wide, *inbuf, (size_t)in_len);
    else
        MultiByteToWideChar(c->from, MB_ERR_INVALID_CHARS, *inbuf, in_len, wide, wide_len);
    DWORD flags = c->to == utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    size_t out_len = (size_t)wide_len * 2;
    if (c->to != utf16le) {
        BOOL lossy = FALSE;
        int n = WideCharToMultiByte(c->to, flags, wide, wide_len, NULL, 0, NULL,
                                    c->to == utf8 ? NULL : &lossy);
        if (n <= 0 || lossy)
            return fail(wide, EILSEQ);
        out_len = (size_t)n;
    }
    if (out_len > *outbytesleft)
        return fail(wide, E2BIG);
    if (c->to == utf16le)
        memcpy(*outbuf, wide, out_len);
    else
        WideCharToMultiByte(c->to, flags, wide, wide_len, *outbuf, (int)out_len, NULL, NULL);
    free(wide);
    *inbuf += *inbytesleft;
    *inbytesleft = 0;
    *outbuf += out_len;
    *outbytesleft -= out_len;
    return 0;
}

const char *locale_charset(void)
{
    static char name[16];
    snprintf(name, sizeof name, "CP%u", GetACP());
    return name;
}
EOF
    cat >"$1/src/check.c" <<'EOF'
/* Converts known strings into UTF-8 and prints "ok", or the first case that went wrong. */
#include <errno.h>
#include <stdio.h>
#include <string.h>

#include "iconv.h"

static const struct {
    const char *from, *in;
    size_t in_len, room;
    const char *want; /* output, or NULL when the call must fail with want_errno */
    int want_errno;
} cases[] = {
    {"CP1251", "\xcf\xf0\xe8", 3, 64, "\xd0\x9f\xd1\x80\xd0\xb8", 0},
    {"CP1252", "caf\xe9", 4, 64, "caf\xc3\xa9", 0},
    {"UTF-16LE", "A\0\x16\x04", 4, 64, "A\xd0\x96", 0},
    {"MacRoman", "\x8a", 1, 64, "\xc3\xa4", 0},
    {"CP1251", "\xcf\xf0\xe8", 3, 5, NULL, E2BIG},
    {"UTF-16LE", "A\0\x16", 3, 64, NULL, EINVAL},
    {"UTF-16LE", "\x00\xd8", 2, 64, NULL, EILSEQ},
};

int main(void)
{
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        iconv_t cd = iconv_open("UTF-8", cases[i].from);
        char out[64] = {0}, *pin = (char *)cases[i].in, *pout = out;
        size_t left = cases[i].in_len, out_left = cases[i].room;
        size_t r = cd == (iconv_t)-1 ? (size_t)-2 : iconv(cd, &pin, &left, &pout, &out_left);
        if (cd != (iconv_t)-1)
            iconv_close(cd);
        int ok = cases[i].want == NULL
                     ? r == (size_t)-1 && errno == cases[i].want_errno && pout == out
                     : r == 0 && left == 0 && strcmp(out, cases[i].want) == 0;
        if (!ok) {
            printf("case %u (%s) went wrong\n", (unsigned)i, cases[i].from);
            return 1;
        }
    }
    if (iconv_open("UTF-8", "CP99999") != (iconv_t)-1 || errno != EINVAL) {
        puts("an unknown code page was accepted");
        return 1;
    }
    puts("ok");
    return 0;
}
EOF
}

recipe_freexl=3
build_freexl() {
    write_iconv "$build/iconv"
    mkdir -p "$prefix/include" "$prefix/lib"
    cp "$build/iconv/include/"*.h "$prefix/include/"
    $host-gcc-posix -O2 -Wall -Wextra -I"$prefix/include" -c "$build/iconv/src/iconv.c" \
        -o "$build/iconv/iconv.o"
    $host-ar rcs "$prefix/lib/libiconv.a" "$build/iconv/iconv.o"
    local wine
    wine=$(command -v wine64 || command -v wine || ls /usr/lib/wine/wine64 2>/dev/null || true)
    if [ -n "$wine" ]; then
        $host-gcc-posix -O2 -Wall -Wextra -I"$prefix/include" "$build/iconv/src/check.c" \
            -L"$prefix/lib" -liconv -o "$build/iconv/check.exe"
        local out
        out=$(WINEDEBUG=-all WINEPREFIX=$work/wine "$wine" "$build/iconv/check.exe" 2>/dev/null | tr -d '\r')
        [ "$out" = ok ] || {
            echo "the iconv check under Wine said: $out" >&2
            return 1
        }
        echo "iconv check under Wine: ok"
    fi
    # Cross-compiling, autoconf cannot run test programs; these answers are right for mingw-w64.
    (cd "$src" && ./configure --host=$host --prefix="$prefix" --disable-shared --enable-static \
        CC=$host-gcc-posix CFLAGS=-O2 CPPFLAGS="-I$prefix/include" LDFLAGS="-L$prefix/lib" \
        ac_cv_func_malloc_0_nonnull=yes ac_cv_func_realloc_0_nonnull=yes)
    make -C "$src" -j "$jobs"
    make -C "$src" install
    rm -f "$prefix/lib/"*.la
    # Static library: whoever links FreeXL links its iconv too.
    sed -i 's/^Libs: .*/Libs: -L${libdir} -lfreexl -liconv -lm/' "$prefix/lib/pkgconfig/freexl.pc"
}

# Replaces the one line of a source file that reads exactly $2 with $3; fails when there is not
# exactly one, so a new source version cannot be changed in a wrong place unnoticed.
replace_line() {
    local n
    n=$(grep -cxF -- "$2" "$1" || true)
    [ "$n" = 1 ] || {
        echo "$1: expected one line '$2', found $n" >&2
        return 1
    }
    REPLACE_OLD=$2 REPLACE_NEW=$3 perl -i -pe 'chomp; $_ = $ENV{REPLACE_NEW} if $_ eq $ENV{REPLACE_OLD}; $_ .= "\n"' "$1"
}

# Orcus reads .ods and .xlsx. Only the library and its parser are built: no spreadsheet model
# (so no formula engine), no command-line tools, no gnumeric filter (the one user of the
# compiled Boost.Iostreams) and no Python. mdds and the Boost parts used are headers, taken
# from the build machine's Debian packages of the same versions; the two places that used the
# compiled Boost.Filesystem (file sizes, joining paths) use the C++17 standard one instead.
recipe_liborcus=2
build_liborcus() {
    local f
    for f in src/parser/stream.cpp src/liborcus/json_document_tree.cpp; do
        replace_line "$src/$f" '#include <boost/filesystem.hpp>' '#include <filesystem>'
        replace_line "$src/$f" 'namespace fs = boost::filesystem;' 'namespace fs = std::filesystem;'
    done
    # Its UTF-16 to UTF-8 conversion works around a Microsoft compiler limit on every Windows
    # compiler, with a conversion facet that GCC's library does not have; GCC takes the
    # standard path it takes on Linux.
    replace_line "$src/src/parser/stream.cpp" '#if defined(_WIN32)' '#if defined(_MSC_VER)'
    mkdir -p "$build/boost/include"
    ln -s /usr/include/boost "$build/boost/include/boost"
    # The Boost.Filesystem and Boost.System checks would look for compiled Windows libraries;
    # nothing links them any more (Boost.System is headers only since Boost 1.69).
    (cd "$build" && "$src/configure" --host=$host --prefix="$prefix" --disable-shared \
        --enable-static --disable-silent-rules --disable-werror --disable-spreadsheet-model \
        --without-tools --without-gnumeric-filter --disable-python \
        --with-boost="$build/boost" CC=$host-gcc-posix CXX=$host-g++-posix \
        CFLAGS=-O2 CXXFLAGS=-O2 \
        MDDS_CFLAGS="-I/usr/include/mdds-2.0" MDDS_LIBS="" ZLIB_CFLAGS="" ZLIB_LIBS="-lz" \
        boost_cv_lib_filesystem=yes boost_cv_lib_filesystem_LIBS="" \
        boost_cv_lib_system=yes boost_cv_lib_system_LIBS="")
    make -C "$build" -j "$jobs"
    make -C "$build" install
    rm -f "$prefix/lib/"*.la
    # Static libraries: whoever links Orcus links its parser library and zlib too.
    sed -i 's/^Libs: \(.*\)$/Libs: \1 -lz/' "$prefix/lib/pkgconfig/liborcus-0.17.pc"
}

# libzip, which the workbook code opens packages with; Windows' own cryptography stands in for
# GnuTLS, and only zlib compression is built in (no bzip2, xz or zstd for this compiler).
recipe_libzip=1
build_libzip() {
    cmake_cross -S "$src" -B "$build" -DBUILD_SHARED_LIBS=OFF -DBUILD_TOOLS=OFF \
        -DBUILD_REGRESS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_DOC=OFF -DENABLE_BZIP2=OFF \
        -DENABLE_LZMA=OFF -DENABLE_ZSTD=OFF -DENABLE_GNUTLS=OFF -DENABLE_OPENSSL=OFF \
        -DENABLE_MBEDTLS=OFF -DENABLE_COMMONCRYPTO=OFF -DENABLE_WINDOWS_CRYPTO=ON
    cmake --build "$build" -j "$jobs"
    cmake --install "$build"
    # A static libzip on Windows must be declared so to its users (no dllimport), and they
    # link its zlib and Windows cryptography too.
    sed -i -e 's/^Cflags: \(.*\)$/Cflags: \1 -DZIP_STATIC/' \
        -e 's/^Libs: \(.*\)$/Libs: \1 -lz -lbcrypt -ladvapi32/' "$prefix/lib/pkgconfig/libzip.pc"
}

# Qt base: Core, Gui, Widgets and PrintSupport as static libraries with the Windows platform
# plugin; the code generators (moc, rcc, uic) come from the build machine's Qt of the same
# version. Qt's own copies of zlib, PCRE2, HarfBuzz, libpng and libjpeg stand in for the system
# libraries Debian uses on Linux. Debian's source leaves out the graphics tablet header the
# Windows plugin needs for tablet events (its licence forbids changes), so those are off.
# Direct2D stays on: Qt 6.4 builds its DirectWrite font engine only with it.
recipe_qtbase=3
keep_qtbase=keep
build_qtbase() {
    cmake_cross -S "$src" -B "$build" \
        -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
        -DBUILD_SHARED_LIBS=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_EXAMPLES=OFF \
        -DQT_BUILD_BENCHMARKS=OFF -DQT_BUILD_MANUAL_TESTS=OFF \
        -DFEATURE_dbus=OFF -DINPUT_opengl=no -DFEATURE_opengl=OFF -DFEATURE_vulkan=OFF \
        -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_testlib=OFF \
        -DFEATURE_concurrent=OFF -DFEATURE_icu=OFF -DFEATURE_glib=OFF -DFEATURE_zstd=OFF \
        -DFEATURE_openssl=OFF -DFEATURE_freetype=OFF -DFEATURE_fontconfig=OFF \
        -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_harfbuzz=OFF \
        -DFEATURE_system_png=OFF -DFEATURE_system_jpeg=OFF -DFEATURE_system_doubleconversion=OFF \
        -DFEATURE_tabletevent=OFF \
        -DFEATURE_printsupport=ON -DFEATURE_widgets=ON -DFEATURE_gui=ON
    cmake --build "$build" -j "$jobs"
    cmake --install "$build"
}

# A Qt module built against the Qt base above, through the toolchain file that Qt installs
# (it brings the compiler settings and the build machine's code generators along).
build_qt_module() {
    local qt=${prefix_of[qtbase]}
    cmake -G Ninja -DCMAKE_TOOLCHAIN_FILE="$qt/lib/cmake/Qt6/qt.toolchain.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
        -DBUILD_SHARED_LIBS=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_EXAMPLES=OFF \
        -S "$src" -B "$build"
    cmake --build "$build" -j "$jobs"
    cmake --install "$build"
}

# Qt Charts (the tank and calibration charts) and Qt Serial Port (the sensor's port).
recipe_qtcharts=1
keep_qtcharts=keep
build_qtcharts() {
    build_qt_module
}

recipe_qtserialport=1
keep_qtserialport=keep
build_qtserialport() {
    build_qt_module
}

# stage, Debian source package, installed package that gives the version, stages it builds on
stages=(
    "libxlsxwriter libxlsxwriter libxlsxwriter-dev"
    "freexl freexl libfreexl-dev"
    "libzip libzip libzip-dev"
    "liborcus liborcus liborcus-dev"
    "qtbase qt6-base qt6-base-dev"
    "qtcharts qt6-charts qt6-charts-dev qtbase"
    "qtserialport qt6-serialport qt6-serialport-dev qtbase"
)

human_time() { printf '%dm%02ds' $(($1 / 60)) $(($1 % 60)); }

run_stage() {
    local stage=$1 pkg=$2 binary=$3
    shift 3
    local version recipe_var=recipe_$stage key dep
    version=$(source_version "$binary")
    key="$pkg $version recipe ${!recipe_var} toolchain $toolchain_sum"
    for dep in "$@"; do
        [ -n "${key_of[$dep]:-}" ] || {
            echo "stage $stage needs stage $dep first" >&2
            exit 1
        }
        key+=" | ${key_of[$dep]}"
    done
    local prefix=$root/$pkg-$version
    local stamp=$prefix/.vq31-stamp
    prefix_of[$stage]=$prefix
    key_of[$stage]=$key
    if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$key" ]; then
        summary+=("$stage $version: up to date, $(du -sh "$prefix" | cut -f1) in $prefix")
        prefixes+=("$prefix")
        return 0
    fi
    local log=$work/$stage.log start end rc keep_var=keep_$stage
    start=$(date +%s)
    echo "== $stage ($pkg $version): building, log in $log"
    rm -rf "$prefix"
    # Not under "if" or "||": bash would ignore set -e inside the subshell there, and a failed
    # command in the middle of a recipe would go unnoticed.
    set +e
    (
        set -euo pipefail
        shopt -s inherit_errexit
        src=$(unpack_source "$pkg" "$version" "${!keep_var:-}")
        build=$work/$stage-build
        [ -n "${!keep_var:-}" ] || rm -rf "$build"
        "build_$stage"
    ) >"$log" 2>&1
    rc=$?
    set -e
    if [ "$rc" -ne 0 ]; then
        end=$(date +%s)
        echo "== stage $stage ($pkg $version) FAILED after $(human_time $((end - start))); end of $log:" >&2
        tail -n 25 "$log" >&2
        summary+=("$stage $version: FAILED after $(human_time $((end - start))), see $log")
        finish
        exit 1
    fi
    echo "$key" >"$stamp"
    # The downloaded sources stay for the next build; the unpacked tree and build folder go,
    # except for the Qt stages, where they make a rebuild after a recipe change incremental.
    [ -n "${!keep_var:-}" ] || rm -rf "${work:?}/$pkg-$version" "${work:?}/$stage-build"
    end=$(date +%s)
    prefixes+=("$prefix")
    echo "== $stage: built in $(human_time $((end - start)))"
    summary+=("$stage $version: built in $(human_time $((end - start))), $(du -sh "$prefix" | cut -f1) in $prefix")
}

# Writes what a later cross build of the project needs to find the libraries built so far:
# prefixes.cmake for -DCMAKE_PROJECT_INCLUDE=... (it runs after the toolchain file, so it can
# add the folders to the find root path), and the summary.
finish() {
    local hint=$root/prefixes.cmake pc="" p
    for p in "${prefixes[@]}"; do pc+="$p/lib/pkgconfig:"; done
    {
        echo "# Written by scripts/build-windows-deps.sh: the Windows libraries built so far."
        echo "# Use with -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_PROJECT_INCLUDE=$hint"
        echo "set(VQ31_WINDOWS_DEPS_PREFIXES \"$(IFS=';' && echo "${prefixes[*]:-}")\")"
        echo 'list(APPEND CMAKE_FIND_ROOT_PATH ${VQ31_WINDOWS_DEPS_PREFIXES})'
        echo 'list(APPEND CMAKE_PREFIX_PATH ${VQ31_WINDOWS_DEPS_PREFIXES})'
        echo 'set(QT_ADDITIONAL_PACKAGES_PREFIX_PATH ${VQ31_WINDOWS_DEPS_PREFIXES})'
        echo '# Every library here is static, like the programs: link the static zlib and run-time too.'
        echo 'set(CMAKE_FIND_LIBRARY_SUFFIXES .a)'
        echo 'set(QT_HOST_PATH /usr)'
        echo 'set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake)'
        echo "set(ENV{PKG_CONFIG_LIBDIR} \"${pc}/usr/$host/lib/pkgconfig\")"
    } >"$hint"
    echo "== summary (cache $root)"
    printf '%s\n' "${summary[@]}" | tee "$root/summary.txt"
    echo "CMake: -DCMAKE_PROJECT_INCLUDE=$hint"
    echo "   or: -DCMAKE_PREFIX_PATH=\"$(IFS=';' && echo "${prefixes[*]:-}")\""
}

# The whole run sits in one function so that bash has read all of it before it starts: editing
# this file while a long build runs cannot change what the run does.
main() {
    set -euo pipefail
    cd "$(dirname "$0")/.."
    checkout=$PWD
    root=${VQ31_WINDOWS_DEPS:-$HOME/.cache/vq31-windows-deps}
    jobs=${VQ31_WINDOWS_DEPS_JOBS:-2}
    case "$root/" in
    "$checkout"/*)
        echo "VQ31_WINDOWS_DEPS ($root) must lie outside the checkout" >&2
        exit 1
        ;;
    esac
    mkdir -p "$root"
    root=$(cd "$root" && pwd)
    # Two runs at once would remove each other's build and install folders.
    exec 9>"$root/.lock"
    flock -n 9 || {
        echo "another run of $0 is using $root" >&2
        exit 1
    }
    work=$root/_work
    mkdir -p "$work/src"

    ./scripts/deps.sh g++-mingw-w64-x86-64-posix libz-mingw-w64-dev dpkg-dev perl libboost-dev libmdds-dev

    toolchain=$root/mingw-w64-deps.cmake
    cp cmake/mingw-w64-deps.cmake "$toolchain.new"
    if cmp -s "$toolchain.new" "$toolchain"; then rm "$toolchain.new"; else mv "$toolchain.new" "$toolchain"; fi
    toolchain_sum=$(sha256sum "$toolchain" | cut -c1-12)

    # Folders of the libraries built or found in the cache so far, for later stages.
    declare -A prefix_of key_of
    prefixes=()
    summary=()

    local name known=" ${stages[*]%% *} "
    for name in "$@"; do
        [[ $known == *" $name "* ]] || {
            echo "unknown stage '$name'; the stages are:${known% }" >&2
            exit 1
        }
    done
    ensure_deb_src
    wanted=" $* "
    for entry in "${stages[@]}"; do
        read -r -a f <<<"$entry"
        if [ $# -gt 0 ] && [[ $wanted != *" ${f[0]} "* ]]; then
            # Not asked for: still used by later stages when it is already in the cache.
            v=$(source_version "${f[2]}") || continue
            p=$root/${f[1]}-$v
            if [ -f "$p/.vq31-stamp" ]; then
                prefix_of[${f[0]}]=$p
                key_of[${f[0]}]=$(cat "$p/.vq31-stamp")
                prefixes+=("$p")
            fi
            continue
        fi
        run_stage "${f[@]}"
    done

    finish
}

main "$@"
