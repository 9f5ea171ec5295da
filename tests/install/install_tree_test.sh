#!/usr/bin/env bash
# What `cmake --install` puts under a prefix, and that the desktop tools accept it.
#   install_tree_test.sh BUILD_DIR
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" > /dev/null

status=0
fail() { echo "FAIL: $*" >&2; status=1; }

expected=(
    bin/vellumax
    "share/vellumax/Samples/Sample Letter.mdi"
    "share/vellumax/Samples/Sample Invoice.mdi"
    share/applications/vellumax.desktop
    share/icons/hicolor/48x48/apps/vellumax.png
    share/icons/hicolor/128x128/apps/vellumax.png
    share/icons/hicolor/256x256/apps/vellumax.png
    share/metainfo/example.vellumax.Vellumax.metainfo.xml
    share/man/man1/vellumax.1
    share/bash-completion/completions/vellumax
    share/doc/vellumax/copyright
    share/doc/vellumax/changelog.gz
)
for file in "${expected[@]}"; do
    [[ -f "$prefix/$file" ]] || fail "not installed: $file"
done
# Nothing else: a stray file would land on users' disks and in the package.
extra=$(cd "$prefix" && find . -type f | sed 's|^\./||' | sort |
    comm -23 - <(printf '%s\n' "${expected[@]}" | sort))
[[ -z "$extra" ]] || fail "installed but not expected: $extra"

for size in 48 128 256; do
    info=$(file -b "$prefix/share/icons/hicolor/${size}x${size}/apps/vellumax.png")
    [[ "$info" == *"$size x $size"* ]] || fail "icon ${size}: $info"
done

desktop-file-validate "$prefix/share/applications/vellumax.desktop" || fail "desktop entry"
grep -qx 'Exec=vellumax %F' "$prefix/share/applications/vellumax.desktop" || fail "Exec line"
appstreamcli validate --no-net --pedantic "$prefix/share/metainfo/example.vellumax.Vellumax.metainfo.xml" \
    > "$prefix/appstream.log" 2>&1 || { cat "$prefix/appstream.log" >&2; fail "metainfo"; }

# The installed program, run from its bin folder, converts the installed samples.
out=$(mktemp -d -p "$prefix")
"$prefix/bin/vellumax" --convert --out "$out" "$prefix/share/vellumax/Samples" > /dev/null 2>&1 ||
    fail "converting the installed samples"
compgen -G "$out/Sample Letter_1.jpg" > /dev/null || fail "no page from the installed samples"

# The completion script loads and offers the options of --convert.
completions=$(bash -c 'source "$1"; COMP_WORDS=(vellumax --convert --f); COMP_CWORD=2
    _vellumax; printf "%s\n" "${COMPREPLY[@]}"' _ "$prefix/share/bash-completion/completions/vellumax")
[[ "$completions" == $'--format\n--files-from' ]] || fail "completion of --f: $completions"
exit "$status"
