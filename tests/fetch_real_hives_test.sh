#!/usr/bin/env bash
# scripts/fetch-real-hives on sources made here, with a list of their own: a
# folder and an archive in yarp's layout bring every listed file and nothing
# else; a file damaged or missing is refused by name and nothing of the fetch
# stays; a source that cannot be reached says so with its own exit status.
set -uo pipefail
fetch=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "failed: $*"
    failures=$((failures + 1))
}

good=$work/good
mkdir -p "$good/NewDirtyHive1" "$good/OldDirtyHive"
printf 'a hive' >"$good/EmptyHive"
printf 'a dirty hive' >"$good/NewDirtyHive1/NewDirtyHive"
printf 'its log' >"$good/NewDirtyHive1/NewDirtyHive.LOG1"
: >"$good/OldDirtyHive/OldDirtyHive.LOG2"
printf 'not listed' >"$good/README.md"
listed=(EmptyHive NewDirtyHive1/NewDirtyHive NewDirtyHive1/NewDirtyHive.LOG1
        OldDirtyHive/OldDirtyHive.LOG2)
(cd "$good" && sha256sum "${listed[@]}") >"$work/list"
export ZEL_REAL_HIVES_LIST=$work/list ZEL_REAL_HIVES_DIR=$work/build/real-hives
target=$ZEL_REAL_HIVES_DIR
# An archive of a commit as GitHub makes one: a top folder, the files below
# hives_for_tests/.
archive() {
    rm -rf "$work/yarp-c0ffee"
    mkdir "$work/yarp-c0ffee"
    cp -r "$1" "$work/yarp-c0ffee/hives_for_tests"
    tar -czf "$work/$2" -C "$work" yarp-c0ffee
}
archive "$good" good.tar.gz

# fetch STATUS [SOURCE]: runs the script and expects that exit status.
fetch() {
    local expected=$1
    shift
    "$fetch" "$@" >"$work/out" 2>&1
    local status=$?
    [ $status -eq "$expected" ] ||
        fail "fetch-real-hives $* exited $status, not $expected: $(cat "$work/out")"
}
whole() {
    [ "$(cd "$target" 2>/dev/null && find . -type f | sort)" = \
        "$(printf './%s\n' "${listed[@]}" | sort)" ] &&
        (cd "$target" && sha256sum --check --quiet "$work/list") ||
        fail "$1: build/real-hives does not hold exactly the listed files"
}
nothing() {
    [ -z "$(ls -A "$target" 2>/dev/null)" ] || fail "$1: build/real-hives holds files"
    [ -z "$(ls -d "$target".fetch-* 2>/dev/null)" ] || fail "$1: a staging folder stayed"
}

fetch 0 "$good"
whole "a folder"
rm -rf "$target"
ZEL_REAL_HIVES_URL=file://$work/good.tar.gz fetch 0
whole "an archive"

for fault in damaged missing; do
    rm -rf "$target" "$work/bad"
    cp -r "$good" "$work/bad"
    if [ $fault = damaged ]; then
        printf 'is log' | dd of="$work/bad/NewDirtyHive1/NewDirtyHive.LOG1" conv=notrunc 2>/dev/null
    else
        rm "$work/bad/NewDirtyHive1/NewDirtyHive.LOG1"
    fi
    archive "$work/bad" bad.tar.gz
    for road in folder archive; do
        if [ $road = folder ]; then fetch 1 "$work/bad"; else
            ZEL_REAL_HIVES_URL=file://$work/bad.tar.gz fetch 1
        fi
        [ "$(grep refused "$work/out")" = \
            "$(grep 'refused NewDirtyHive1/NewDirtyHive.LOG1: ' "$work/out")" ] &&
            grep -q refused "$work/out" ||
            fail "a $fault file from a $road: not refused by its name alone: $(cat "$work/out")"
        nothing "a $fault file from a $road"
    done
done

# A whole set stays whole when a later fetch is refused.
fetch 0 "$good"
fetch 1 "$work/bad"
whole "a refused fetch over a whole set"

rm -rf "$target"
for source in "file://$work/no-such.tar.gz" "file://$work/list"; do
    ZEL_REAL_HIVES_URL=$source fetch 3
    nothing "the address $source"
done
fetch 3 "$work/no-such-folder"
nothing "a folder that is not there"

[ $failures -eq 0 ] && echo "fetch-real-hives: every case as expected"
exit $((failures > 0))
