# Sourced by the scripts that install what they need with apt-get.
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
    DEBIAN_FRONTEND=noninteractive $sudo apt-get update -qq \
        || echo "$who: apt-get update reported errors, going on" >&2
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null

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
