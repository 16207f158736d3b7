# shellcheck shell=bash
# Sourced by the scripts that install what they need with apt-get, or fetch
# Debian packages of another architecture without touching the host's dpkg.
#
# install_missing WHO PACKAGE...
#   Installs those of PACKAGE that are not installed yet, and only those: an
#   installed package is never upgraded, pinned or downgraded. Quiet and quick
#   when nothing is missing. WHO prefixes the messages. Fails when a package
#   is still missing afterwards.

package_installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

install_missing() {
    local who=$1 pkg
    shift
    local missing=() still=()
    for pkg in "$@"; do
        package_installed "$pkg" || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0

    echo "$who: installing ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    # An index that fails to download (seen with a mirror's size mismatch)
    # does not stop the install; whether the packages arrived is checked below.
    # Another apt running at the same time is waited for, not failed on.
    DEBIAN_FRONTEND=noninteractive $sudo apt-get update -qq \
        || echo "$who: apt-get update reported errors, going on" >&2
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
        -o DPkg::Lock::Timeout=600 "${missing[@]}" >/dev/null

    for pkg in "${missing[@]}"; do
        package_installed "$pkg" || still+=("$pkg")
    done
    if [ ${#still[@]} -ne 0 ]; then
        echo "$who: could not install: ${still[*]}" >&2
        return 1
    fi
}

# install_optional WHO PACKAGE...
#   Like install_missing, for a tool a script can do without: installs it only
#   when that changes the version of no installed package (apt may want to
#   upgrade a dependency, e.g. perl for lintian). Fails, changing nothing, when
#   it would.
install_optional() {
    local who=$1 pkg missing=()
    shift
    for pkg in "$@"; do
        package_installed "$pkg" || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    # "Inst name [installed version] (new version ...)": an upgrade.
    if apt-get install -s --no-install-recommends "${missing[@]}" 2>/dev/null | grep -q '^Inst [^ ]* \['; then
        echo "$who: not installing ${missing[*]}: it would upgrade packages this machine has" >&2
        return 1
    fi
    install_missing "$who" "${missing[@]}"
}

# debian_sources
#   Sets codename (the host's Debian release) and sources: "deb URI SUITE
#   COMPONENT" for every Debian suite of this release the host's apt knows
#   (apt reads its own sources, whatever their format; third-party
#   repositories are left out), or deb.debian.org when it knows none.
debian_sources() {
    codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
    [ -n "$codename" ] || { echo "cannot tell the Debian release from /etc/os-release" >&2; exit 1; }
    # shellcheck disable=SC2016 # $(...) are apt's own fields, not the shell's
    mapfile -t sources < <(apt-get indextargets 'Identifier: Packages' 'Origin: Debian' \
        --format 'deb $(REPO_URI) $(RELEASE) $(COMPONENT)' | grep " ${codename}[-a-z]* " | sort -u)
    [ ${#sources[@]} -ne 0 ] || sources=("deb http://deb.debian.org/debian $codename main")
}

# fetch_qemu_arm DIR
#   Prints the path of a qemu-arm from bookworm-backports, fetched into DIR
#   once. Bookworm's own qemu-user (7.2) rejects the clone flags Qt uses to
#   start child processes, so every QProcess would fail under it; this one is
#   also statically linked, so it runs inside an armhf chroot.
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
