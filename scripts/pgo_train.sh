#!/usr/bin/env bash
# Build step of the fast build (cmake/fast_build.cmake), not meant to be run
# by hand: runs the instrumented bench, which leaves its profile in
# PROFILE_DIR, and removes the fast library's objects so that the build
# compiles them again with the new profile.
#
#   pgo_train.sh STAMP PROFILE_DIR FAST_OBJDIR POSITIONS [WRAPPER] BENCH
#
# A failed run leaves no profile: the fast library is then built without one,
# and the build goes on.
set -uo pipefail
stamp="$1" profile="$2" fast="$3" positions="$4"
shift 4
mkdir -p "$profile"
# Counts add up over runs: start from none.
find "$profile" -name '*.gcda' -delete
find "$fast" -name '*.o' -delete 2>/dev/null
log="$profile/training.log"
if "$@" "$positions" >"$log" 2>&1 && grep -q '^signature ' "$log"; then
  echo "profile trained: $(grep '^signature ' "$log")"
else
  echo "warning: profile training failed ($*; see $log): building without a profile" >&2
  find "$profile" -name '*.gcda' -delete
fi
touch "$stamp"
