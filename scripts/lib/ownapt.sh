# Sourced by the scripts that fetch Debian packages of another architecture
# (the armhf sysroot, the emulated board) without touching the host's dpkg or
# apt state. Needs say() from the caller.
#
# debian_suites
#   Sets codename (the host's Debian release) and suites: one line
#   "uri suite components signed-by" for every Debian suite of this release
#   in the host's sources, or Debian's defaults when there are none.
# write_own_apt DIR ARCH SOURCE-LINE...  /  own_apt DIR APT-GET-ARGUMENTS...
#   A private apt of one architecture below DIR, and apt-get run with it.

# One line "uri suite components signed-by" for every Debian suite of this
# release in the host's sources (deb822 and one-line formats); third-party
# repositories and backports are left out.
host_suites() {
    {
        awk 'function flush() {
                 if (types ~ /(^| )deb( |$)/ && enabled != "no")
                     for (i = 1; i <= nu; i++) for (j = 1; j <= ns; j++)
                         print uris[i], suites[j], comps, (signed == "" ? "-" : signed)
                 types = ""; enabled = ""; comps = ""; signed = ""; nu = 0; ns = 0
             }
             FNR == 1 { flush() }
             /^[ \t]*$/ { flush(); next }
             /^#/ { next }
             tolower($1) == "types:" { $1 = ""; types = $0 }
             tolower($1) == "enabled:" { enabled = tolower($2) }
             tolower($1) == "uris:" { nu = split(substr($0, index($0, ":") + 1), uris, " ") }
             tolower($1) == "suites:" { ns = split(substr($0, index($0, ":") + 1), suites, " ") }
             tolower($1) == "components:" { $1 = ""; sub(/^ +/, ""); comps = $0 }
             tolower($1) == "signed-by:" { signed = $2 }
             END { flush() }' /etc/apt/sources.list.d/*.sources 2>/dev/null || true
        awk '$1 == "deb" {
                 sub(/^deb[ \t]+(\[[^]]*\][ \t]+)?/, ""); uri = $1; suite = $2
                 $1 = ""; $2 = ""; sub(/^ +/, ""); print uri, suite, $0, "-"
             }' /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null || true
    } | awk -v c="$codename" '$1 ~ /\/debian(-security)?\/?$/ && $2 ~ "^" c "(-updates|-security|/updates)?$"'
}

debian_suites() {
    codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
    [ -n "$codename" ] || { say "cannot tell the Debian release from /etc/os-release"; exit 1; }
    mapfile -t suites < <(host_suites | sort -u)
    if [ ${#suites[@]} -eq 0 ]; then
        suites=("http://deb.debian.org/debian $codename main -"
                "http://deb.debian.org/debian $codename-updates main -"
                "http://deb.debian.org/debian-security $codename-security main -")
    fi
}

# The private apt of one architecture below DIR: settings, sources, lists,
# state and downloads all live there. Nothing of the host's apt state is read
# or written; the host's apt.conf.d still applies (a proxy, for instance).
# write_own_apt DIR ARCH SOURCE-LINE...
write_own_apt() {
    local dir=$1 arch=$2 line uri suite comps signed
    shift 2
    mkdir -p "$dir/sources" "$dir/state/lists/partial" "$dir/cache/archives/partial"
    [ -f "$dir/state/status" ] || : >"$dir/state/status"
    cat >"$dir/apt.conf" <<EOF
APT::Architecture "$arch";
APT::Architectures { "$arch"; };
APT::Install-Recommends "false";
APT::Sandbox::User "root";
Acquire::Languages "none";
Dir::Etc::SourceList "/dev/null";
Dir::Etc::SourceParts "$dir/sources";
Dir::Etc::Preferences "/dev/null";
Dir::Etc::PreferencesParts "/dev/null";
Dir::State "$dir/state";
Dir::State::status "$dir/state/status";
Dir::Cache "$dir/cache";
EOF
    rm -f "$dir"/sources/*
    for line in "$@"; do
        read -r uri suite comps <<<"${line% *}"
        signed=${line##* }
        [ "$signed" != "-" ] || signed=/usr/share/keyrings/debian-archive-keyring.gpg
        printf 'Types: deb\nURIs: %s\nSuites: %s\nComponents: %s\nArchitectures: %s\nSigned-By: %s\n\n' \
            "$uri" "$suite" "$comps" "$arch" "$signed"
    done >"$dir/sources/debian.sources"
}

own_apt() {
    local dir=$1
    shift
    APT_CONFIG=$dir/apt.conf DEBIAN_FRONTEND=noninteractive apt-get "$@"
}
