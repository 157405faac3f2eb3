#!/usr/bin/env bash
# The program's SHA-256 of a 1 GiB file (sha256_file, the digest the folder check uses) against
# `sha256sum` on the same file, side by side in one hyperfine run. The file is read once before
# (the warm-up), so both read it from the page cache and the figure is the hashing itself.
# Target: at least 0.9 times sha256sum's throughput, i.e. our median at most 1/0.9 of its.
#   bench/sha256_file.sh [BUILD_DIR]          (RUNS, default 10; SIZE_MIB, default 1024)
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/common.sh "${1:-build/default}"

PROGRAM="$BUILD_DIR/bench/sha256_file"
[ -x "$PROGRAM" ] || { echo "build the sha256_file target in $BUILD_DIR first" >&2; exit 1; }
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
FILE="$WORK/one-gib.bin"
SIZE_MIB=${SIZE_MIB:-1024}
head -c "$((SIZE_MIB * 1024 * 1024))" /dev/urandom > "$FILE"
# Both print the same line, or the comparison means nothing.
[ "$("$PROGRAM" "$FILE")" = "$(sha256sum "$FILE")" ] || { echo "the digests differ" >&2; exit 1; }

hyperfine -N --warmup 2 --runs "${RUNS:-10}" --export-json "$WORK/hyperfine.json" \
    "$PROGRAM $FILE" \
    "sha256sum $FILE"
report "$WORK/hyperfine.json" 1.111
python3 - "$WORK/hyperfine.json" "$SIZE_MIB" <<'PY'
import json, sys
ours, theirs = (r["median"] for r in json.load(open(sys.argv[1]))["results"][:2])
mib = int(sys.argv[2])
print(f"throughput {mib / ours:.0f} MiB/s against {mib / theirs:.0f} MiB/s: "
      f"{theirs / ours:.3f}x of sha256sum (target >= 0.9x)")
PY
