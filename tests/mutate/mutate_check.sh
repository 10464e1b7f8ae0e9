#!/bin/sh
# vorn-mutate on a tree of one small file: what it kills, what survives, what the equivalent
# list leaves out, the score; a run stopped by a signal, and one killed outright, leave the file
# as it was.
tool=$1
work=$2
fail() { echo "mutate_check: $*" >&2; exit 1; }
rm -rf "$work" && mkdir -p "$work/src/lib" || exit 1
cat > "$work/src/lib/a.cpp" <<'CODE'
// return x + y; in a comment is not mutated
int twice(int x) { return x + x; }
bool small(int x) { return x < 3; }
CODE
cp "$work/src/lib/a.cpp" "$work/a.orig"
cat > "$work/equivalent.txt" <<'LIST'
# FILE: ORIGINAL -> MUTANT | WHY
lib/a.cpp: bool small(int x) { return x < 3; } -> bool small(int x) { return x < 4; } | listed for this check
LIST
run() { "$tool" --source "$work/src" --paths lib --journal "$work/journal" --logs "$work/logs" "$@"; }

# The test kills what changes twice(); small() has three mutants, one listed.
out=$(cd "$work/src" && run --build true --test "grep -q 'return x + x;' lib/a.cpp" \
      --equivalent "$work/equivalent.txt" --min-score 30) || fail "exit $?: $out"
echo "$out"
echo "$out" | grep -q "^mutants: 4 run, 0 not built, 1 killed, 2 survived, 1 listed as equivalent (left out)$" || fail "counts"
echo "$out" | grep -q "^score: 1 / 3 = 33.3%" || fail "score"
echo "$out" | grep -q "^survived: lib/a.cpp:3: bool small(int x) { return x < 3; } -> bool small(int x) { return x <= 3; }$" || fail "survivor"
cmp -s "$work/src/lib/a.cpp" "$work/a.orig" || fail "the file was not restored"
out=$(cd "$work/src" && run --build true --test true --min-score 50) && fail "a score under --min-score passed"
echo "$out" | grep -q "below the 50% this run must reach" || fail "no word of the minimum"
# A build that does not build is left out of the score.
out=$(cd "$work/src" && run --build false --test true --count 2) || fail "not built: exit $?"
echo "$out" | grep -q "^mutants: 2 run, 2 not built, 0 killed" || fail "not built: $out"
printf 'lib/a.cpp: x -> y\n' > "$work/bare.txt"
out=$(run --build true --test true --equivalent "$work/bare.txt" 2>&1) && fail "an entry without a reason was taken"
echo "$out" | grep -q "bare.txt:1: expected 'FILE: ORIGINAL -> MUTANT | WHY'" || fail "no reason: $out"

# Stopped while a mutant builds: the build is ended and the file restored.
"$tool" --source "$work/src" --paths lib --journal "$work/journal" --logs "$work/logs" \
    --build "sleep 30" --test true > "$work/stopped.log" 2>&1 &
pid=$!
sleep 1
kill -TERM $pid
wait $pid
status=$?
[ $status = 130 ] || fail "stopped: exit $status, expected 130"
grep -q "interrupted: every file is restored" "$work/stopped.log" || fail "stopped: $(cat "$work/stopped.log")"
cmp -s "$work/src/lib/a.cpp" "$work/a.orig" || fail "a stopped run left a mutant"

# Killed outright while a mutant builds: the next run restores it from the journal first.
run --build 'kill -9 $PPID; sleep 5' --test true > /dev/null 2>&1
cmp -s "$work/src/lib/a.cpp" "$work/a.orig" && fail "the kill came too late to leave a mutant"
out=$(run --build true --test true --list) || fail "after a kill: exit $?"
echo "$out" | grep -q "^restored lib/a.cpp from an interrupted run$" || fail "after a kill: $out"
cmp -s "$work/src/lib/a.cpp" "$work/a.orig" || fail "the journal did not restore the file"
echo "mutate_check: passed"
