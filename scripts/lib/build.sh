# Sourced by every script that builds: the one way to configure and build a preset, and the
# phases that collect failures for the gates (scripts/test, scripts/check).
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

# configure PRESET: configures build/PRESET only when it is missing, older than the presets or
# made by another generator (a build folder of another generator is made anew).
configure() {
  local folder=build/$1
  if ! grep -qs '^CMAKE_GENERATOR:INTERNAL=Ninja$' "$folder/CMakeCache.txt"; then
    rm -rf "$folder"
  fi
  if [ ! -f "$folder/build.ninja" ] || [ CMakePresets.json -nt "$folder/build.ninja" ]; then
    cmake --preset "$1" >/dev/null || return 1
  fi
}

# build [--quiet] PRESET [TARGET...]: configures when needed, then builds the targets (the
# preset's own when none). --quiet keeps the output in build/PRESET/build.log and prints
# only its last 30 lines, on failure.
build() {
  local quiet=0
  if [ "${1:-}" = --quiet ]; then
    quiet=1
    shift
  fi
  local preset=$1
  shift
  local args=(--build --preset "$preset" -j"$jobs")
  (($#)) && args+=(--target "$@")
  configure "$preset" || return 1
  if ((quiet == 0)); then
    cmake "${args[@]}"
    return
  fi
  local log=build/$preset/build.log
  cmake "${args[@]}" >"$log" 2>&1 && return 0
  echo "build $preset failed (log: $log):" >&2
  tail -30 "$log" >&2
  return 1
}

finish() {  # gate name
  if ((${#failed[@]})); then
    echo "FAILED: ${failed[*]}"
    exit 1
  fi
  echo "$1: all passed"
}
