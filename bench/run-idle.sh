#!/usr/bin/env bash
# Idle cost on a battery device: the service alone for a while with no peer.
# Prints CPU time used over the idle period, peak RSS and log bytes written.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/lib/service.sh
. "$root/scripts/lib/service.sh"
private_mailboxes "$@" # the service's mailboxes are its own, and gone afterwards
build=${BUILD_DIR:-$root/build}
seconds=${IDLE_SECONDS:-60}

work=$(mktemp -d) # inside the private TMPDIR
bin=$work/device/home/corvane/TessalyUpdater/bin
mkdir -p "$bin"
cp "$build/src/app/TessalyUpdater" "$bin/"
trap stop_service EXIT

start_service "$bin" /dev/null
sleep 1 # let start-up settle; its cost is not idle cost

# Nanoseconds on a CPU, summed over the service's threads (Qt may start some).
cpu_ns() { cat /proc/"$service_pid"/task/*/schedstat | awk '{s += $1} END {printf "%.0f", s}'; }
log_bytes() { cat "$bin"/logs/*.log | wc -c; }

cpu_before=$(cpu_ns)
log_before=$(log_bytes)
sleep "$seconds"
cpu_after=$(cpu_ns)
log_after=$(log_bytes)
peak_kib=$(awk '/^VmHWM:/ {print $2}' "/proc/$service_pid/status")

cpu_ms=$(awk -v a="$cpu_after" -v b="$cpu_before" 'BEGIN {printf "%.1f", (a - b) / 1e6}')
per_minute=$(awk -v c="$cpu_ms" -v s="$seconds" 'BEGIN {printf "%.1f", c * 60 / s}')
peak_mib=$(awk -v k="$peak_kib" 'BEGIN {printf "%.1f", k / 1024}')
echo "idle service, $seconds s, no peer"
echo "  CPU time: $cpu_ms ms ($per_minute ms per minute; target <= 20: $(
    awk -v m="$per_minute" 'BEGIN {print (m <= 20) ? "PASS" : "MISS"}'))"
echo "  peak RSS: $peak_mib MiB (target <= 16: $(
    awk -v m="$peak_mib" 'BEGIN {print (m <= 16) ? "PASS" : "MISS"}'))"
echo "  log bytes written while idle: $((log_after - log_before)) (none expected)"
