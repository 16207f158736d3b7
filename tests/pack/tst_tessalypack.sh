#!/bin/sh
# tessaly-pack against real tar, gzip and sh. Usage: tst_tessalypack.sh TOOL
set -u
pack=$1
TMPDIR=$(mktemp -d "${TMPDIR:-/tmp}/tst_tessalypack.XXXXXX") && cd "$TMPDIR" || exit 1
export TMPDIR
trap 'rm -rf "$TMPDIR"' EXIT
failures=0

# expect NAME STATUS TEXT COMMAND...: COMMAND ends with STATUS, prints TEXT if any.
expect() {
    name=$1 status=$2 text=$3
    shift 3
    "$@" >out.txt 2>&1
    got=$?
    if [ "$got" -ne "$status" ] || { [ -n "$text" ] && ! grep -qF -- "$text" out.txt; }; then
        echo "FAIL: $name: status $got (wanted $status), output lacks '$text':"
        sed 's/^/    /' out.txt
        failures=$((failures + 1))
    else
        echo "PASS: $name"
    fi
}

# faked CLOCK COMMAND...: COMMAND on libfaketime's clock CLOCK. libfaketime
# leaves files in /dev/shm: a private tmpfs there.
faked() {
    # shellcheck disable=SC2016 # expanded by the inner sh, not here
    unshare --mount sh -c 'mount -t tmpfs tmpfs /dev/shm &&
        FAKETIME=$0 LD_PRELOAD=$(ls /usr/lib/*/faketime/libfaketime.so.1) exec "$@"' "$@"
}

mkdir -p app/lib out1 out2
# shellcheck disable=SC2016 # expanded by the script, not here
printf 'cp "$(dirname "$0")/lib/tool" .\n' >app/deploy.sh
echo data >app/b.txt && printf '#!/bin/sh\n' >app/lib/tool
chmod 700 app/lib/tool && chmod 600 app/deploy.sh

# Packed twice on different days, the files' own times and modes changed.
expect "packs a folder" 0 "made out1/Tessaly-1.2.tar.gz" "$pack" tar app 1.2 -o out1
touch -d '2031-05-05 10:00' app/b.txt app/lib app/deploy.sh && chmod 664 app/b.txt
expect "packs it again two days later" 0 "made out2/Tessaly-1.2.tar.gz" \
    faked +2d "$pack" tar app 1.2 -o out2
expect "both packages are identical" 0 "" cmp out1/Tessaly-1.2.tar.gz out2/Tessaly-1.2.tar.gz
TZ=UTC0 tar -tvzf out1/Tessaly-1.2.tar.gz --full-time >listing.txt
cat >wanted.txt <<'EOF'
-rw-r--r-- 0/0               5 1970-01-01 00:00:00 b.txt
-rwxr-xr-x 0/0              32 1970-01-01 00:00:00 deploy.sh
drwxr-xr-x 0/0               0 1970-01-01 00:00:00 lib/
-rwxr-xr-x 0/0              10 1970-01-01 00:00:00 lib/tool
EOF
expect "entries at the top, sorted, 0:0, normalised modes and time" 0 "" \
    diff wanted.txt listing.txt
expect "its own package passes the check" 0 "$(sha256sum <out1/Tessaly-1.2.tar.gz | cut -c1-64)" \
    "$pack" check out1/Tessaly-1.2.tar.gz

# What fails on the device fails the check.
mkdir -p nodeploy broken future && echo a >nodeploy/a && printf 'if then\n' >broken/deploy.sh
echo : >future/deploy.sh && touch -d '+1 day' future/deploy.sh
for dir in nodeploy broken future; do tar czf "$dir.tar.gz" -C "$dir" .; done
expect "missing deploy.sh" 1 "no deploy.sh at the top" "$pack" check nodeploy.tar.gz
expect "syntax error" 1 'Syntax error: "then" unexpected' "$pack" check broken.tar.gz
expect "entry dated in the future" 1 "in the future" "$pack" check future.tar.gz
expect "tar refuses a folder without deploy.sh" 1 "deploy.sh is missing" "$pack" tar nodeploy 1.0

# .gz: the ELF header read, the package reproducible, damage found.
printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000\002\000\050\000' >arm.bin
expect "gz of an ARM executable" 0 "arm.bin: an ELF executable for 32-bit ARM" \
    "$pack" gz arm.bin 3.0 -o out1
touch -d '2031-05-05 10:00' arm.bin
expect "gz repacked later gives the same bytes" 0 "" \
    sh -c "\"$pack\" gz arm.bin 3.0 -o out2 >/dev/null &&
        cmp out1/Tessaly-3.0.gz out2/Tessaly-3.0.gz"
head -c 30 out1/Tessaly-3.0.gz >cut.gz
expect "a .gz that does not decompress" 1 "unexpected end of file" "$pack" check cut.gz
expect "usage error" 2 "see 'tessaly-pack --help'" "$pack" tar app

echo "$failures failure(s)"
[ "$failures" -eq 0 ]
