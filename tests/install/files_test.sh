#!/usr/bin/env bash
# What the build makes for installing, checked with the desktop's own tools: the manual pages render
# without warnings and name every command, the menu entry and the AppStream metadata validate with no
# hints or warnings, and the icons have the sizes their folders promise.
#   files_test.sh BUILD_DIR SOURCE_DIR       (exit 77, a skip, when a tool is missing)
set -euo pipefail
build=$1
source_dir=$2
for tool in groff desktop-file-validate appstreamcli xmllint; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Manual pages: no warnings from groff, and the vortool page has a section for every command.
pages=("$build/share/man/man1/vortool.1")
[ -x "$build/vorglobal" ] && pages+=("$build/share/man/man1/vorglobal.1")
for page in "${pages[@]}"; do
    warnings=$(groff -man -ww -z "$page" 2>&1) || fail "groff failed on $page"
    [ -z "$warnings" ] || fail "groff warns about $page: $warnings"
    gzip -dc "$page.gz" | cmp -s - "$page" || fail "$page.gz is not $page compressed"
done
for command in $("$build/vortool" help | sed -n '/^commands:/,/^$/s/^  \([a-z]*\) .*/\1/p'); do
    grep -q "^\.SS $command\$" "$build/share/man/man1/vortool.1" || fail "vortool.1 has no section for $command"
done

# Both programs name their version, and refuse an unknown option by name, pointing to their help.
for program in vortool vorglobal; do
    [ -x "$build/$program" ] || continue
    version=$("$build/$program" --version)
    [[ $version =~ ^$program\ [0-9]+\.[0-9]+ ]] || fail "$program --version prints '$version'"
    status=0
    message=$("$build/$program" --no-such-option 2>&1 >/dev/null) || status=$?
    [ $status -eq 2 ] || fail "$program --no-such-option exits with $status"
    [[ $message == *--no-such-option*"$program "*help* ]] || fail "$program --no-such-option says: $message"
done

# The menu entry: valid with no hints at all (one main category).
hints=$(desktop-file-validate "$source_dir/src/resources/vorglobal.desktop" 2>&1) ||
    fail "desktop-file-validate refuses the menu entry"
[ -z "$hints" ] || fail "desktop-file-validate: $hints"

# AppStream metadata: valid off line, without warnings, and naming the menu entry that is installed.
if [ -x "$build/vorglobal" ]; then
    metainfo=$(echo "$build"/share/metainfo/*.metainfo.xml)
    report=$(appstreamcli validate --no-net "$metainfo" 2>&1) || fail "appstreamcli: $report"
    if grep -q '^[EW]:' <<<"$report"; then fail "appstreamcli warns: $report"; fi
    grep -q '<launchable type="desktop-id">vorglobal.desktop</launchable>' "$metainfo" ||
        fail "the metadata does not launch vorglobal.desktop"
fi

# Icons: every size the desktop asks for, each PNG exactly that size, and the vector one well-formed.
icons=$source_dir/src/resources/icons/hicolor
for size in 16 24 32 48 64 128 256 512; do
    png=$icons/${size}x${size}/apps/vorglobal.png
    [ -f "$png" ] || { fail "no $size px icon"; continue; }
    # The PNG signature, then the IHDR chunk: width and height as 4-byte big-endian numbers.
    read -r -a b < <(od -An -tu1 -w24 -N24 "$png")
    got="not a PNG"
    [ "${b[1]:-}${b[2]:-}${b[3]:-}" = "807871" ] &&
        got="$(((b[16] << 24) + (b[17] << 16) + (b[18] << 8) + b[19]))x$(((b[20] << 24) + (b[21] << 16) + (b[22] << 8) + b[23]))"
    [ "$got" = "${size}x${size}" ] || fail "$png is $got"
done
xmllint --noout "$icons/scalable/apps/vorglobal.svg" || fail "the scalable icon is not well-formed"
grep -q '^Icon=vorglobal$' "$source_dir/src/resources/vorglobal.desktop" || fail "the menu entry names another icon"

[ $failures -eq 0 ] && echo "install files: all checks pass"
exit $((failures > 0))
