#!/bin/sh
# The very pip children that `tessel-installer install -v 1.0.0` runs for the benchmark's
# catalogue, in its order, back to back, output discarded: the baseline of engine_install.sh.
py="$VIRTUAL_ENV/bin/python"
U=https://127.0.0.1:18443/
T="--trusted-host pypi.org --trusted-host pypi.python.org --trusted-host files.pythonhosted.org --trusted-host 127.0.0.1:18443"
# shellcheck disable=SC2086  # $T is eight words on purpose
{
    "$py" -m pip install tessel-enterprise==1.0.0 --index-url $U $T
    "$py" -m pip install tessel-enterprise-full==1.0.0 --index-url $U $T
    "$py" -m pip install bundle-alder==1.0.0 --index-url $U $T
    "$py" -m pip index versions bundle-birch --index-url $U
    "$py" -m pip install bundle-birch --index-url $U $T
    "$py" -m pip install bundle-cedar==1.0.0 --index-url $U $T
} >/dev/null 2>&1
