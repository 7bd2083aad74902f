#!/usr/bin/env bash
# Makes data/sky-objects.tsv again: installs the Debian packages the
# conversion reads (kstars-data, xplanet) if this machine lacks them, then
# runs scripts/make-sky-objects.py. Neither package is needed to build or
# run the program.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
"$here/install-packages.sh" --no-install-recommends kstars-data xplanet python3
exec python3 "$here/make-sky-objects.py" "$@"
