#!/usr/bin/env bash
# Makes data/sky-objects.tsv again: installs the Debian packages the
# conversion reads (kstars-data, xplanet) if this machine lacks them, then
# runs scripts/make-sky-objects.py. Neither package is needed to build or
# run the program.
set -euo pipefail

packages=(kstars-data xplanet python3)
missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  if [[ $(id -u) -ne 0 ]]; then sudo_cmd=(sudo); fi
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
exec python3 "$here/make-sky-objects.py" "$@"
