#!/usr/bin/env bash
# Download benchmark: our downloader (bench-download, built on AsyncDownloader)
# against curl, fetching a 64 MiB and a 1 GiB package from a real nginx on
# 127.0.0.1, over HTTP and over HTTPS, in turn, for several rounds. For every
# fetch it takes the wall time, the CPU time (user + system) and the peak RSS
# of the fetching process from /usr/bin/time, then prints the medians, the
# ratios ours/curl and PASS or MISS for each target.
#
#   bench/run-download.sh [ROUNDS]
#
# Environment: BUILD_DIR (default build/), ROUNDS (default 3; the argument
# wins), STRICT=1 to exit 1 when a target is missed. Anything else in the
# environment reaches both clients.
# The packages are made once, from /dev/urandom, in BUILD_DIR/bench-cache.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/lib/service.sh
. "$root/scripts/lib/service.sh"
build=${BUILD_DIR:-$root/build}
case "$build" in /*) ;; *) build=$root/$build ;; esac
rounds=${1:-${ROUNDS:-3}}
strict=${STRICT:-0}
case "$rounds" in '' | *[!0-9]* | 0) echo "run-download.sh: ROUNDS must be a positive number" >&2; exit 2 ;; esac

# Targets. Speed is judged on the 1 GiB package; memory on both.
http_wall_max=1.00
http_cpu_max=1.00
https_wall_max=1.25
https_cpu_max=1.80
rss_max_mib=32
rss_spread_max_mib=4

for tool in /usr/bin/time curl; do
    command -v "$tool" >/dev/null || { echo "run-download.sh: $tool is missing (Debian packages \"time\", \"curl\"; scripts/bootstrap)" >&2; exit 1; }
done

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" >/dev/null
fi
cmake --build "$build" --target bench-download -j "$(nproc)" >/dev/null
bench_bin=$build/bench/download/bench-download

cache=$build/bench-cache
mkdir -p "$cache"
make_package() {
    local name=$1 mib=$2 path=$cache/$1
    if [ "$(stat -c %s "$path" 2>/dev/null || echo 0)" != $((mib * 1024 * 1024)) ]; then
        echo "making $name ($mib MiB) in $cache, once" >&2
        head -c "${mib}M" /dev/urandom >"$path.part"
        mv "$path.part" "$path"
    fi
}
make_package package-64M.bin 64
make_package package-1G.bin 1024

work=$(mktemp -d "$build/bench-download.XXXXXX")
trap 'stop_nginx; rm -rf "$work"' EXIT
mkdir -p "$work/www" "$work/out"
# nginx serves the cached packages through links, so nothing is copied.
ln -s "$cache/package-64M.bin" "$work/www/package-64M.bin"
ln -s "$cache/package-1G.bin" "$work/www/package-1G.bin"

declare -A base
start_nginx "$work/nginx-http" "$work/www"
base[http]=$url
start_nginx "$work/nginx-https" "$work/www" --tls
base[https]=$url

results=$work/results
: >"$results"

# fetch CLIENT URL SIZE: one timed fetch into $work/out, checked, then removed.
fetch() {
    local client=$1 url=$2 size=$3 name target
    name=$(basename "$url")
    case "$client" in
        ours)
            target=$work/out/data/download/$name
            timeout 1200 /usr/bin/time -f '%e %U %S %M' -o "$work/time" \
                "$bench_bin" "$url" "$work/out" ;;
        curl)
            target=$work/out/$name
            timeout 1200 /usr/bin/time -f '%e %U %S %M' -o "$work/time" \
                curl -s -k -o "$target" "$url" ;;
    esac
    local got
    got=$(stat -c %s "$target" 2>/dev/null || echo missing)
    if [ "$got" != "$size" ]; then
        echo "run-download.sh: $client fetched $got bytes of $url, not $size" >&2
        exit 1
    fi
    if [ "$size" -le $((64 * 1024 * 1024)) ] && ! cmp -s "$target" "$cache/$name"; then
        echo "run-download.sh: $client fetched other bytes than $url serves" >&2
        exit 1
    fi
    rm -f "$target"
    read -r wall user sys rss <"$work/time"
    echo "$name ${url%%:*} $client $wall $(echo "$user $sys" | awk '{printf "%.2f", $1 + $2}') $rss" >>"$results"
}

echo "download benchmark: $rounds round(s), $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)${QT_NO_GLIB:+, QT_NO_GLIB=$QT_NO_GLIB}"
echo "$(curl --version | head -n 1 | cut -d' ' -f1-5); $(nginx -v 2>&1 | sed 's/^nginx version: //'); Qt $(qmake -query QT_VERSION 2>/dev/null || echo '?')"
for round in $(seq "$rounds"); do
    # Alternate who goes first, so neither always meets a warmer cache.
    clients="ours curl"
    [ $((round % 2)) -eq 0 ] && clients="curl ours"
    for package in package-64M.bin package-1G.bin; do
        size=$(stat -L -c %s "$work/www/$package")
        for scheme in http https; do
            for client in $clients; do
                fetch "$client" "${base[$scheme]}/$package" "$size"
            done
        done
    done
    echo "round $round of $rounds done" >&2
done

# pick PACKAGE SCHEME CLIENT FIELD: that column of the matching results, sorted
pick() {
    awk -v p="$1" -v s="$2" -v c="$3" -v f="$4" '$1 == p && $2 == s && $3 == c {print $f}' "$results" | sort -g
}
median() {
    pick "$@" | awk '{v[NR] = $1} END {if (NR % 2) printf "%.2f", v[(NR + 1) / 2]; else printf "%.2f", (v[NR / 2] + v[NR / 2 + 1]) / 2}'
}
peak_mib() {
    pick "$@" | tail -n 1 | awk '{printf "%.1f", $1 / 1024}'
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {if (b > 0) printf "%.2f", a / b; else print "inf"}'; }
verdict() { awk -v v="$1" -v m="$2" 'BEGIN {print (v <= m) ? "PASS" : "MISS"}'; }

echo
printf '%-9s %-6s | %-25s | %-25s | %-21s\n' "package" "scheme" "wall s: ours curl ratio" "CPU s: ours curl ratio" "peak RSS MiB: ours curl"
for package in package-64M.bin package-1G.bin; do
    label=${package#package-}; label=${label%.bin}
    for scheme in http https; do
        ow=$(median "$package" "$scheme" ours 4); cw=$(median "$package" "$scheme" curl 4)
        oc=$(median "$package" "$scheme" ours 5); cc=$(median "$package" "$scheme" curl 5)
        orss=$(peak_mib "$package" "$scheme" ours 6); crss=$(peak_mib "$package" "$scheme" curl 6)
        printf '%-9s %-6s | %7s %7s %7s   | %7s %7s %7s   | %8s %8s\n' "$label" "$scheme" \
            "$ow" "$cw" "$(ratio "$ow" "$cw")" "$oc" "$cc" "$(ratio "$oc" "$cc")" "$orss" "$crss"
    done
done
echo "(medians of $rounds round(s); peak RSS is the largest of the rounds)"

echo
missed=0
check() {
    local what=$1 value=$2 max=$3 unit=${4:-}
    local v
    v=$(verdict "$value" "$max")
    [ "$v" = MISS ] && missed=$((missed + 1))
    printf '%s  %-44s %8s%s <= %s%s\n' "$v" "$what" "$value" "$unit" "$max" "$unit"
}
for scheme in http https; do
    ow=$(median package-1G.bin "$scheme" ours 4); cw=$(median package-1G.bin "$scheme" curl 4)
    oc=$(median package-1G.bin "$scheme" ours 5); cc=$(median package-1G.bin "$scheme" curl 5)
    if [ "$scheme" = http ]; then wmax=$http_wall_max; cmax=$http_cpu_max; else wmax=$https_wall_max; cmax=$https_cpu_max; fi
    check "$scheme 1G wall time ours/curl" "$(ratio "$ow" "$cw")" "$wmax"
    check "$scheme 1G CPU time ours/curl" "$(ratio "$oc" "$cc")" "$cmax"
done
for scheme in http https; do
    small=$(peak_mib package-64M.bin "$scheme" ours 6)
    large=$(peak_mib package-1G.bin "$scheme" ours 6)
    check "$scheme peak RSS ours, 64M package" "$small" "$rss_max_mib" " MiB"
    check "$scheme peak RSS ours, 1G package" "$large" "$rss_max_mib" " MiB"
    check "$scheme peak RSS ours, 1G minus 64M" \
        "$(awk -v a="$large" -v b="$small" 'BEGIN {d = a - b; if (d < 0) d = -d; printf "%.1f", d}')" \
        "$rss_spread_max_mib" " MiB"
done
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
[ "$missed" -eq 0 ] || [ "$strict" != 1 ] || exit 1
exit 0
