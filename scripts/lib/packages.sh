# shellcheck shell=bash
# Sourced by the scripts that install what they need with apt-get, or fetch
# Debian packages of another architecture without touching the host's dpkg.
# install_missing WHO PACKAGE...: installs those of PACKAGE that are missing,
#   and only those: an installed package is never upgraded, pinned or
#   downgraded. WHO prefixes the messages. Fails when one is still missing.
# install_optional WHO PACKAGE...: the same for a tool a script can do
#   without, only when no installed package changes version (apt may want to
#   upgrade a dependency, e.g. perl for lintian); fails, changing nothing.

missing_packages() {
    local pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || echo "$pkg"
    done
}

install_missing() {
    local optional=0 who missing still sudo=""
    [ "$1" != --optional ] || { optional=1 && shift; }
    who=$1 && shift
    mapfile -t missing < <(missing_packages "$@")
    [ ${#missing[@]} -ne 0 ] || return 0
    # "Inst name [installed version] (new version ...)": an upgrade.
    if [ $optional = 1 ] && apt-get install -s --no-install-recommends "${missing[@]}" 2>/dev/null \
        | grep -q '^Inst [^ ]* \['; then
        echo "$who: not installing ${missing[*]}: it would upgrade packages this machine has" >&2
        return 1
    fi
    echo "$who: installing ${missing[*]}"
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    # An index that fails to download (seen with a mirror's size mismatch)
    # does not stop the install; whether the packages arrived is checked below.
    # Another apt running at the same time is waited for, not failed on.
    DEBIAN_FRONTEND=noninteractive $sudo apt-get update -qq \
        || echo "$who: apt-get update reported errors, going on" >&2
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
        -o DPkg::Lock::Timeout=600 "${missing[@]}" >/dev/null
    mapfile -t still < <(missing_packages "${missing[@]}")
    [ ${#still[@]} -eq 0 ] || { echo "$who: could not install: ${still[*]}" >&2; return 1; }
}

install_optional() { install_missing --optional "$@"; }

# debian_sources: sets codename (the host's Debian release) and sources, a
#   "deb URI SUITE COMPONENT" for each Debian suite of it that the host's apt
#   knows (apt reads its own sources, whatever their format), or
#   deb.debian.org's when it knows none.
debian_sources() {
    codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
    [ -n "$codename" ] || { echo "cannot tell the Debian release from /etc/os-release" >&2; exit 1; }
    # shellcheck disable=SC2016 # $(...) are apt's own fields, not the shell's
    mapfile -t sources < <(apt-get indextargets 'Identifier: Packages' 'Origin: Debian' \
        --format 'deb $(REPO_URI) $(RELEASE) $(COMPONENT)' | grep " ${codename}[-a-z]* " | sort -u)
    [ ${#sources[@]} -ne 0 ] || sources=("deb http://deb.debian.org/debian $codename main")
}

# fetch_qemu_arm DIR: prints the path of a qemu-arm from bookworm-backports,
#   fetched into DIR once. Bookworm's own (7.2) rejects the clone flags Qt
#   starts child processes with; this one is also static, so it runs inside
#   an armhf chroot.
fetch_qemu_arm() {
    local dir=$1 qemu=$1/usr/bin/qemu-arm mirror
    if ! [[ $("$qemu" --version 2>/dev/null) =~ version\ ([0-9]+)\. ]] \
        || [ "${BASH_REMATCH[1]}" -lt 8 ]; then
        debian_sources
        mirror=$(printf '%s\n' "${sources[@]}" | awk -v c="$codename" '$3 == c { print $2; exit }')
        echo "fetching qemu-arm from $codename-backports into $dir" >&2
        rm -rf "$dir"
        mmdebstrap --quiet --variant=extract --architectures="$(dpkg --print-architecture)" \
            --include="qemu-user/$codename-backports" \
            --dpkgopt='path-exclude=*' --dpkgopt='path-include=/usr/bin/qemu-arm' \
            "$codename" "$dir" "deb $mirror $codename main" "deb $mirror $codename-backports main" >&2
        "$qemu" --version >/dev/null || { echo "the fetched qemu-arm does not run" >&2; exit 1; }
    fi
    echo "$qemu"
}
