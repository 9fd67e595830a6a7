#!/bin/sh
# Builds the gate and answers one sample request, as a web server would start it.
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build
printf 'session=demo&command=none' | \
  env -i REQUEST_METHOD=POST SERVER_PROTOCOL=HTTP/1.1 CONTENT_LENGTH=25 PATH_INFO= ./build/orvanegate
