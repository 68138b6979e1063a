# Builds for the side-by-side tools (tools/speed_compare.sh, tools/strength.sh),
# sourced by them: a commit's sources exported without touching the work tree,
# and a Release build of one target in a folder of its own; and their usage
# text, which is the calling script's header comment.

# usage: prints the header comment of the script that sourced this file (up to
# its "set -euo" line) and exits with status 2.
usage() {
  sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//' >&2
  exit 2
}

# export_rev REV DIR: the commit's tracked files into DIR (made if missing);
# prints the short commit name. Fails for a name that is no commit.
export_rev() {
  local commit
  commit=$(git rev-parse --verify --quiet "$1^{commit}") ||
    { echo "no commit $1" >&2; return 2; }
  mkdir -p "$2"
  git archive "$commit" | tar -x -C "$2"
  git rev-parse --short "$commit"
}

# release_build SRC DIR LOG TARGET [CMAKE_ARGS...]: configures SRC into DIR
# (Release, the flags the tree ships with, plus CMAKE_ARGS) and builds TARGET,
# all output into LOG.
release_build() {
  local src="$1" dir="$2" log="$3" target="$4"
  shift 4
  # A folder configured from another source tree is configured afresh: an
  # exported commit lands in a new temporary folder on every run, and CMake
  # refuses a cache made for another source folder.
  if [ -f "$dir/CMakeCache.txt" ] &&
    ! grep -qxF "CMAKE_HOME_DIRECTORY:INTERNAL=$(cd "$src" && pwd)" "$dir/CMakeCache.txt"; then
    rm -rf "$dir/CMakeCache.txt" "$dir/CMakeFiles"
  fi
  { cmake -S "$src" -B "$dir" -DCMAKE_BUILD_TYPE=Release "$@" &&
    cmake --build "$dir" -j"$(nproc)" --target "$target"; } >"$log" 2>&1
}
