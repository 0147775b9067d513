#!/usr/bin/env bash
# Brings a machine to the point where the module builds and its tests run:
# the Debian packages, a .venv on Python 3.13 and the pinned Python
# requirements. Safe to run again; when everything is there it only checks.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."

debian_packages=(
    libsimdjson-dev libisal-dev libgtest-dev libbenchmark-dev libbz2-dev zlib1g-dev
    cmake ninja-build pkg-config g++
    clang libclang-rt-14-dev valgrind locales
)
requirements=(requirements/build.txt requirements/test.txt requirements/wheel.txt)
venv=.venv

say() { printf 'bootstrap: %s\n' "$*"; }
fail() { printf 'bootstrap: error: %s\n' "$*" >&2; exit 1; }

# A candidate counts only if it really runs and is 3.13: a version-manager
# shim may exist and still fail, or start another version.
is_python313() {
    [ -n "$1" ] && "$1" -c 'import sys; sys.exit(sys.version_info[:2] != (3, 13))' >/dev/null 2>&1
}

find_python313() {
    local candidate
    if is_python313 "$(command -v python3.13 || true)"; then
        command -v python3.13
        return
    fi
    if command -v pyenv >/dev/null 2>&1; then
        for candidate in "$(pyenv root)"/versions/3.13*/bin/python3.13; do
            if is_python313 "$candidate"; then
                echo "$candidate"
                return
            fi
        done
    fi
}

has_python_headers() {
    "$1" -c 'import os, sys, sysconfig
sys.exit(not os.path.isfile(os.path.join(sysconfig.get_paths()["include"], "Python.h")))' >/dev/null 2>&1
}

missing_debian_packages() {
    local package status
    for package in "$@"; do
        status=$(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null || true)
        [ "$status" = installed ] || echo "$package"
    done
}

python=$(find_python313)
wanted=("${debian_packages[@]}")
if [ -z "$python" ]; then
    # Debian 13 ships Python 3.13 itself; elsewhere it has to come from pyenv.
    apt-cache show python3.13 >/dev/null 2>&1 \
        || fail "no Python 3.13 found: install it (for example 'pyenv install 3.13') and run again"
    wanted+=(python3.13 python3.13-venv python3.13-dev)
elif [ "$python" = /usr/bin/python3.13 ]; then
    has_python_headers "$python" || wanted+=(python3.13-dev)
    "$python" -c 'import ensurepip' >/dev/null 2>&1 || wanted+=(python3.13-venv)
elif ! has_python_headers "$python"; then
    fail "$python has no development headers (Python.h); rebuild or reinstall that interpreter"
fi

mapfile -t missing < <(missing_debian_packages "${wanted[@]}")
if [ "${#missing[@]}" -gt 0 ]; then
    if [ "$(id -u)" -ne 0 ]; then
        fail "missing Debian packages; run as root:
    apt-get update && apt-get install -y --no-install-recommends ${missing[*]}"
    fi
    say "installing ${missing[*]}"
    apt-get update -q
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
    [ -n "$python" ] || python=$(find_python313)
    [ -n "$python" ] || fail "Python 3.13 still not found after installing it"
fi

# A test reads numbers under a decimal-comma locale.
if ! locale -a 2>/dev/null | grep -qx 'de_DE.utf8'; then
    [ "$(id -u)" -eq 0 ] || fail "locale de_DE.UTF-8 is missing; run as root: localedef -i de_DE -f UTF-8 de_DE.UTF-8"
    say "generating the locale de_DE.UTF-8"
    localedef -i de_DE -f UTF-8 de_DE.UTF-8
fi

# A venv whose interpreter has moved or changed version is rebuilt from scratch.
if ! is_python313 "$venv/bin/python"; then
    say "creating $venv from $python"
    rm -rf "$venv"
    "$python" -m venv "$venv"
fi

stamp="$venv/.requirements.sha256"
digest=$(cat "${requirements[@]}" | sha256sum | cut -d' ' -f1)
if [ "$(cat "$stamp" 2>/dev/null || true)" != "$digest" ]; then
    say "installing the pinned Python requirements"
    requirement_args=()
    for file in "${requirements[@]}"; do requirement_args+=(-r "$file"); done
    "$venv/bin/python" -m pip install --quiet --disable-pip-version-check "${requirement_args[@]}"
    echo "$digest" >"$stamp"
fi
