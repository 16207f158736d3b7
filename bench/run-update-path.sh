#!/usr/bin/env bash
# Whole update path: a 32 MiB .tar.gz of incompressible data from the request
# written by tessaly-peer to the installed message read back, through the
# real service and a real nginx on loopback; beside it the same work done by
# hand (curl -o, tar -xzf, chmod -R, sh deploy.sh). Prints the medians, the
# ratio, and how much of ours is the wait for the service's next poll.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/lib/service.sh
. "$root/scripts/lib/service.sh"
private_mailboxes "$@" # the service's mailboxes are its own, and gone afterwards
build=${BUILD_DIR:-$root/build}
rounds=${ROUNDS:-5}
size_mib=${PACKAGE_MIB:-32}

work=$(mktemp -d) # inside the private TMPDIR
bin=$work/device/home/corvane/TessalyUpdater/bin
upgrade=$work/device/home/corvane/upgrade
www=$work/www
mkdir -p "$bin" "$upgrade" "$www" "$work/package" "$work/hand"
cp "$build/src/app/TessalyUpdater" "$bin/"

trap 'stop_service; stop_nginx' EXIT

head -c $((size_mib * 1024 * 1024)) /dev/urandom > "$work/package/payload.bin"
printf 'touch DEPLOYED\n' > "$work/package/deploy.sh"
tar -czf "$www/app.tar.gz" -C "$work/package" .
start_nginx "$work/nginx" "$www"
start_service "$bin" /dev/stderr
log=$(compgen -G "$bin/logs/*.log" | head -n 1)

now_ms() { echo $(( $(date +%s%N) / 1000000 )); }
# The local time of a log line, in ms since the epoch.
line_ms() { date -d "$(cut -c1-23 <<<"$1" | tr T ' ')" +%s%3N; }
median() { sort -n | awk '{v[NR]=$1} END {print (NR%2) ? v[(NR+1)/2] : int((v[NR/2]+v[NR/2+1])/2)}'; }

ours=() waits=() hands=()
for round in $(seq "$rounds"); do
    rm -rf "${upgrade:?}"/* "$bin/DEPLOYED"
    lines_before=$(wc -l < "$log")
    start=$(now_ms)
    "$build/tools/tessaly-peer/tessaly-peer" download --version "$round.0" \
        --url "$url/app.tar.gz" --wait 120 >/dev/null
    end=$(now_ms)
    [ -f "$bin/DEPLOYED" ] || { echo "round $round: not deployed" >&2; exit 1; }
    read_line=$(tail -n +"$((lines_before + 1))" "$log" | grep -m1 'Read message:')
    waits+=($(( $(line_ms "$read_line") - start )))
    ours+=($((end - start)))

    rm -rf "$work/hand"/*
    start=$(now_ms)
    curl -s -o "$work/hand/app.tar.gz" "$url/app.tar.gz"
    mkdir "$work/hand/app"
    tar -xzf "$work/hand/app.tar.gz" -C "$work/hand/app"
    chmod -R 755 "$work/hand/app"
    (cd "$bin" && sh "$work/hand/app/deploy.sh")
    rm -f "$work/hand/app.tar.gz"
    end=$(now_ms)
    hands+=($((end - start)))
    echo "round $round: ours ${ours[-1]} ms (poll wait ${waits[-1]} ms), by hand ${hands[-1]} ms"
done

m_ours=$(printf '%s\n' "${ours[@]}" | median)
m_wait=$(printf '%s\n' "${waits[@]}" | median)
m_hand=$(printf '%s\n' "${hands[@]}" | median)
net=()
for i in "${!ours[@]}"; do net+=($(( ours[i] - waits[i] ))); done
m_net=$(printf '%s\n' "${net[@]}" | median)
ratio=$(awk -v a="$m_net" -v b="$m_hand" 'BEGIN {printf "%.2f", a / b}')
verdict=$(awk -v r="$ratio" 'BEGIN {print (r <= 1.15) ? "PASS" : "MISS"}')
echo
echo "update path, ${size_mib} MiB .tar.gz, $rounds rounds (medians)"
printf '  %-36s %6s ms\n' "ours, request to installed message" "$m_ours" \
    "  of which waiting for the next poll" "$m_wait" \
    "ours without the poll wait" "$m_net" \
    "by hand (curl, tar, chmod, sh)" "$m_hand"
echo "  ratio (ours - poll wait) / by hand: $ratio (target <= 1.15: $verdict)"
