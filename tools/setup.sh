#!/usr/bin/env bash
# Installs the build and test dependencies that are missing (Debian 12, as root).
set -euo pipefail
pkgs=(g++ cmake make git libgtest-dev libbenchmark-dev rapidjson-dev nlohmann-json3-dev libwebsocketpp-dev)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
fi
