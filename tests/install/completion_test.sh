#!/usr/bin/env bash
# The bash completion vortool prints: commands, sub-commands, options, device names, catalogue source
# names (from `vortool sources` when the tool has it, else the built-in services), files and folders.
#   completion_test.sh VORTOOL
set -euo pipefail
vortool=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$vortool" --bash-completion > "$work/vortool.bash"
failures=0

# complete TOOL WORD... : what the completion offers for the last word, sorted, one a line.
complete_words() {
    (
        cd "$work/folder"
        source "$work/vortool.bash"
        COMP_WORDS=("$@")
        COMP_CWORD=$(($# - 1))
        _vortool
        printf '%s\n' "${COMPREPLY[@]}" | sort
    )
}

expect() {
    local want=$1; shift
    local got
    got=$(complete_words "$@" | tr '\n' ' ' | sed 's/ $//')
    if [ "$got" != "$want" ]; then
        echo "FAIL: '$*' completes to '$got', expected '$want'"
        failures=$((failures + 1))
    fi
}

mkdir -p "$work/folder/Maps" "$work/folder/tracks"
touch "$work/folder/track.txt" "$work/folder/two words.log"

expect "decode" "$vortool" de
expect "$("$vortool" help | sed -n 's/^  \(s[a-z]*\) .*/\1/p' | sort | tr '\n' ' ' | sed 's/ $//')" "$vortool" s
expect "render" "$vortool" help re
expect "get set" "$vortool" setting ''
expect "decode encode" "$vortool" gif ''
expect "--device" "$vortool" decode --d
expect "--lat --level --lon" "$vortool" render --l
expect "EarthMate Garmin NMEA TripMate USB" "$vortool" sim --device ''
expect "EarthMate Garmin NMEA TripMate USB gpsd network remote" "$vortool" watch --device ''
expect "Garmin" "$vortool" decode --device G
expect "GoogleMaps" "$vortool" tile --source G
expect "Maps tracks" "$vortool" render --root ''
expect "track.txt tracks" "$vortool" sim --track tr
expect "two words.log" "$vortool" decode --device N tw
expect "" "$vortool" decode --zone ''

# A vortool whose catalogue has a user source: its names are offered.
cat > "$work/fake-vortool" <<'FAKE'
#!/bin/sh
[ "$1" = sources ] || exit 2
echo '{"name": "MyTopo", "layer": "map", "menu_id": 1028}'
echo '{"name":"OpenStreetMap","layer":"map","menu_id":1022}'
FAKE
chmod +x "$work/fake-vortool"
expect "MyTopo OpenStreetMap" "$work/fake-vortool" fetch --source ''

[ $failures -eq 0 ] && echo "completion: all cases pass"
exit $((failures > 0))
