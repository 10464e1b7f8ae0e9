#!/usr/bin/env bash
# The web panel's scripting interface as a shell script drives it: the README's curl examples,
# made with bash's own /dev/tcp (no HTTP client needed). HOST PLUGIN CONFIG WORK are the
# arguments. Fails naming the request and what came.
set -u
host=$1 plugin=$2 config=$3 work=$4
rm -rf "$work" && mkdir -p "$work" || exit 1
"$host" serve --port 0 --plugin "$plugin" --config "$config" > "$work/out" 2>&1 &
server=$!
trap 'kill $server 2>/dev/null' EXIT
port=
for i in $(seq 300); do
    port=$(sed -n 's|^serving http://127.0.0.1:\([0-9]*\)/.*|\1|p' "$work/out")
    [ -n "$port" ] && break
    sleep 0.1
done
[ -n "$port" ] || { echo "no address from serve:"; cat "$work/out"; exit 1; }

# request METHOD PATH [BODY [HEADER]]: prints the status line's code, then the body.
request() {
    local method=$1 path=$2 body=${3-} header=${4-}
    exec 3<>"/dev/tcp/127.0.0.1/$port" || return 1
    printf '%s %s HTTP/1.1\r\nHost: 127.0.0.1:%s\r\nContent-Length: %s\r\nConnection: close\r\n%s\r\n%s' \
        "$method" "$path" "$port" "${#body}" "${header:+$header$'\r\n'}" "$body" >&3
    local reply
    reply=$(cat <&3)
    exec 3<&-
    local status=${reply#HTTP/1.1 }
    printf '%s\n%s\n' "${status%% *}" "${reply#*$'\r\n\r\n'}"
}
failed=0
# expect WHAT STATUS PATTERN METHOD PATH [BODY [HEADER]]
expect() {
    local what=$1 status=$2 pattern=$3
    shift 3
    local got
    got=$(request "$@")
    if [ "${got%%$'\n'*}" != "$status" ] || ! printf '%s' "$got" | grep -q -- "$pattern"; then
        echo "FAILED: $what ($*): expected status $status and '$pattern', got:"
        echo "$got"
        failed=1
    else
        echo "ok: $what"
    fi
}
expect "a tile as JSON" 200 '"label":"Studio A"' GET /api/tiles/one
expect "the clock paused" 200 '' POST /api/clock pause
expect "a press by tile name" 200 '  -> GS 12 3 1 1' POST /api/tiles/one/press
expect "the tile after it" 200 '"notify":"GPIvalue=1"' GET /api/tiles/one
expect "a parent command answered" 200 '"text":"useText=false"' POST /api/tiles/one/parent 'return=useText'
expect "a contact flipped" 200 '"step":"switch 12 3 0"' POST /api/contacts/12/3 off
expect "the facility as JSON" 200 '"contact":3,"device":12,"names":\["A"\],"state":0' GET /api/facility
expect "no such tile" 404 "no tile named 'nobody'" POST /api/tiles/nobody/press
expect "another site's page is refused" 403 'refused' POST /api/tiles/one/press '' 'Origin: http://evil.example'
# The event stream: its first event is the whole panel.
exec 4<>"/dev/tcp/127.0.0.1/$port"
printf 'GET /api/events HTTP/1.1\r\nHost: 127.0.0.1:%s\r\n\r\n' "$port" >&4
event=
while IFS= read -r -t 5 line <&4; do
    case $line in data:*) event=$line; break ;; esac
done
exec 4<&-
if printf '%s' "$event" | grep -q '"full":true' && printf '%s' "$event" | grep -q '"name":"two"'; then
    echo "ok: the event stream"
else
    echo "FAILED: the event stream's first event: '$event'"
    failed=1
fi
exit $failed
