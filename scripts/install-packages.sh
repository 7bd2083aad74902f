#!/usr/bin/env bash
# Installs those of the Debian packages named on the command line that this
# machine does not have yet (as root, or through sudo). With
# --no-install-recommends first, the packages' recommendations are left out.
set -euo pipefail

apt_options=()
if [[ ${1:-} == --no-install-recommends ]]; then
  apt_options+=(--no-install-recommends)
  shift
fi

missing=()
for p in "$@"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  if [[ $(id -u) -ne 0 ]]; then sudo_cmd=(sudo); fi
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${apt_options[@]}" "${missing[@]}"
fi
