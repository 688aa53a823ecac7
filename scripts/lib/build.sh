# Sourced by scripts/test and scripts/check: phases that collect failures, and a build that
# configures only when the build folder is missing, stale or made by another generator.
# shellcheck shell=bash
jobs=$(nproc)
failed=()

phase() {  # name, then the command
  local name=$1
  shift
  echo "=== $name"
  local start=$SECONDS
  if ! "$@"; then failed+=("$name"); fi
  echo "--- $name: $((SECONDS - start)) s"
}

build() {  # preset
  local dir=build/$1
  if ! grep -qs '^CMAKE_GENERATOR:INTERNAL=Ninja$' "$dir/CMakeCache.txt"; then
    rm -rf "$dir"
  fi
  if [ ! -f "$dir/build.ninja" ] || [ CMakePresets.json -nt "$dir/build.ninja" ]; then
    cmake --preset "$1" >/dev/null || return 1
  fi
  cmake --build --preset "$1" -j"$jobs"
}

finish() {  # gate name
  if ((${#failed[@]})); then
    echo "FAILED: ${failed[*]}"
    exit 1
  fi
  echo "$1: all passed"
}
