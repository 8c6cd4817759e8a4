#!/usr/bin/env bash
# The Debian package made from this build folder's programs: it holds the expected files, its
# dependencies come from the binaries, and lintian finds no errors (its warnings are printed).
#   package_test.sh BUILD_DIR        (exit 77, a skip, when cpack, dpkg-deb or lintian is missing)
set -euo pipefail
build=$(cd "$1" && pwd)
for tool in cpack dpkg-deb dpkg-shlibdeps lintian; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

(cd "$build" && cpack -G DEB -B "$work" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; exit 1; }
deb=$(echo "$work"/vorglobal_*.deb)
[ -f "$deb" ] || { echo "FAIL: no package made"; cat "$work/cpack.log"; exit 1; }

listing=$(dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|')
for file in /usr/bin/vorglobal /usr/bin/vortool \
    /usr/share/man/man1/vorglobal.1.gz /usr/share/man/man1/vortool.1.gz \
    /usr/share/bash-completion/completions/vortool \
    /usr/share/applications/vorglobal.desktop \
    /usr/share/icons/hicolor/{16x16,24x24,32x32,48x48,64x64,128x128,256x256,512x512}/apps/vorglobal.png \
    /usr/share/icons/hicolor/scalable/apps/vorglobal.svg \
    /usr/share/metainfo/org.vorglobal.vorglobal.metainfo.xml \
    /usr/share/doc/vorglobal/copyright /usr/share/doc/vorglobal/changelog.gz; do
    grep -qxF "$file" <<<"$listing" || fail "the package lacks $file"
done
if grep -v -e '^/usr/bin/' -e '^/usr/share/' -e '^/usr/$' -e '^/$' <<<"$listing"; then
    fail "files outside /usr/bin and /usr/share (listed above)"
fi

# Runtime dependencies computed from the binaries: the C library, Qt's widgets, the image libraries.
depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libqt6widgets6 libpng16-16 libjpeg62-turbo; do
    grep -q "\b$library\b" <<<"$depends" || fail "Depends lacks $library: $depends"
done

# lintian: no errors; everything it says is shown.
lintian --info "$deb" >"$work/lintian.log" 2>&1 || true
grep -v -e '^N: ' -e 'running with root privileges' "$work/lintian.log" || true
if grep -q '^E: ' "$work/lintian.log"; then fail "lintian reports errors"; fi

[ $failures -eq 0 ] && echo "package $(basename "$deb"): all checks pass"
exit $((failures > 0))
