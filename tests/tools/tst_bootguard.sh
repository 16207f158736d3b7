#!/bin/sh
# tessaly-boot-guard on the device's fixed folders, in a mount namespace of its
# own with /home a tmpfs: what it puts back after a power cut, and that it
# leaves a healthy device alone, saying nothing.   tst_bootguard.sh GUARD
set -eu
if [ "${1:-}" != --inside ]; then
    unshare --mount true 2>/dev/null || { echo "SKIP: unshare --mount was refused here"; exit 77; }
    exec unshare --mount sh "$0" --inside "$1"
fi
guard=$2 bin=/home/corvane/Tessaly/bin logs=/home/corvane/TessalyUpdater/bin/logs failures=0
mount -t tmpfs tmpfs /home

# check NAME SETUP OUTPUT FILES: FILES lists each file as "path mode [content]",
# the content through cat -v with "|" for a line feed.
check() {
    rm -rf /home/corvane && mkdir -p "$bin" "$logs" && eval "$2"
    output=$("$guard" 2>&1) || output="$output (exit $?)"
    files=$(find /home -type f | sort | while read -r f; do
        printf '%s %s [%s]\n' "$f" "$(stat -c %a "$f")" "$(cat -v "$f" | tr '\n' '|')"; done)
    if [ "$output" = "$3" ] && [ "$files" = "$4" ]; then echo "PASS: $1"; else
        printf 'FAIL: %s\n  output:   %s\n  expected: %s\n  files:\n%s\n  expected:\n%s\n' \
            "$1" "$output" "$3" "$files" "$4"
        failures=$((failures + 1))
    fi
}

old="echo old build >$bin/Tessaly_legacy; chmod 755 $bin/Tessaly_legacy"
back="$bin/Tessaly 755 [old build|]
$bin/Tessaly_legacy 755 [old build|]"
check "healthy: nothing done" "echo new build >$bin/Tessaly; $old; echo a >$logs/u.log" "" \
    "$bin/Tessaly 644 [new build|]
$bin/Tessaly_legacy 755 [old build|]
$logs/u.log 644 [a|]"
check "missing: the previous one copied back" "$old" \
    "$bin/Tessaly was missing: copied $bin/Tessaly_legacy back" "$back"
check "empty: the previous one copied back" "$old; : >$bin/Tessaly" \
    "$bin/Tessaly was empty: copied $bin/Tessaly_legacy back" "$back"
check "both empty: nothing copied" ": >$bin/Tessaly; : >$bin/Tessaly_legacy" "" \
    "$bin/Tessaly 644 []
$bin/Tessaly_legacy 644 []"
check "a script as Tessaly stays" "echo '#!/bin/sh' >$bin/Tessaly; $old" "" \
    "$bin/Tessaly 644 [#!/bin/sh|]
$bin/Tessaly_legacy 755 [old build|]"
check "NUL bytes after the last line cut off" \
    "printf 'a\nb\n' >$logs/u.log; head -c 2200 /dev/zero >>$logs/u.log" \
    "$logs/u.log: cut off 2200 NUL bytes at its end" "$logs/u.log 644 [a|b|]"
check "more NUL bytes than one look takes" \
    "echo a >$logs/u.log; head -c 70000 /dev/zero >>$logs/u.log; echo b >$logs/v.log" \
    "$logs/u.log: cut off 70000 NUL bytes at its end" "$logs/u.log 644 [a|]
$logs/v.log 644 [b|]"
[ "$failures" -eq 0 ]
