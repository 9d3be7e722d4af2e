# Sourced by the scripts: ensure_packages PKG... installs the Debian packages that are not
# installed yet (as root, one apt-get update first), so that every script works on a fresh
# Debian 12 machine and costs nothing where everything is already there.
ensure_packages() {
    local need=() pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' ||
            need+=("$pkg")
    done
    [ ${#need[@]} -eq 0 ] && return 0
    echo "== installing: ${need[*]}"
    if [ "$(id -u)" -ne 0 ]; then
        echo "missing packages and not root: ${need[*]}" >&2
        return 1
    fi
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq && apt-get install -y -qq "${need[@]}"
}
