#!/bin/sh
# Ctrl-C during a run from standard input ends it as the end of its input does: the teardown is
# shown and the recording kept. HOST PLUGIN WORK are the arguments.
set -u
host=$1 plugin=$2 work=$3
rm -rf "$work" && mkdir -p "$work" && mkfifo "$work/in" || exit 1
# The input stays open, as a person at the prompt keeps it, until the test is over.
(printf 'create\n'; sleep 30) > "$work/in" &
feeder=$!
"$host" run --plugin "$plugin" --record "$work/rec.vorn" - < "$work/in" > "$work/out" 2>&1 &
run=$!
# Once the first step is recorded (the recording is kept step by step), Ctrl-C.
for i in $(seq 100); do
    grep -q '^expect nothing' "$work/rec.vorn" 2>/dev/null && break
    sleep 0.1
done
kill -INT $run
wait $run
status=$?
kill $feeder 2>/dev/null
if [ $status != 0 ] || ! grep -q 'interrupted (Ctrl-C)' "$work/out" || ! grep -q -- '-> AS' "$work/out" ||
   ! grep -q '^expect ended' "$work/rec.vorn"; then
    echo "exit $status"; cat "$work/out"; echo "--- recording:"; cat "$work/rec.vorn"
    exit 1
fi
echo "interrupted: teardown shown, recording kept"
