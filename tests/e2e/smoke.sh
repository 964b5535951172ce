#!/bin/sh
# The 32-bit QuibDemo.exe as it ships, against the stand-in vellquib.dll beside
# it, driven from outside by quibctl as a user would drive it: started, a line
# spoken, the text buffer fetched, an avatar picked and sent an ESP, closed;
# it must end with exit code 0, and the stand-in's call log must hold each of
# those calls.
#
#   smoke.sh <wine-run.sh> <folder of QuibDemo.exe> <quibctl.exe>
#
# Every program runs through the one wine-run.sh, in its build's prefix. Where
# 32-bit code runs only emulated, the 64-bit build's test run passes its own
# wine-run.sh and quibctl.exe with the 32-bit build's folder: the 32-bit
# program then runs in the 64-bit prefix (Wine's WoW64), emulated, while
# quibctl runs at full speed. An emulated start takes about a minute with
# QEMU 7.2, so the waits are long; they end as soon as what they wait for is
# there.
set -u
run=$1
folder=$2
quibctl=$3
wait_ms=300000

work=$PWD/smoke
rm -rf "$work"
mkdir -p "$work"
log=$work/host.log
# The stand-in's calm world: no chatter, no busy answers.
VELLQUIB_BUSY_PERCENT=0 VELLQUIB_DELIVERY_MS=200 VELLQUIB_CHATTER_MS=0 VELLQUIB_ESP_REPLY_MS=300
VELLQUIB_INIT_RESULT=0 VELLQUIB_LOG="Z:$(printf '%s' "$log" | tr / '\\')"
export VELLQUIB_BUSY_PERCENT VELLQUIB_DELIVERY_MS VELLQUIB_CHATTER_MS VELLQUIB_ESP_REPLY_MS
export VELLQUIB_INIT_RESULT VELLQUIB_LOG

start=$(date +%s)
say() { echo "smoke: $(($(date +%s) - start)) s: $*"; }
fail() {
    echo "smoke: FAILED: $*" >&2
    [ ! -f "$log" ] || sed 's/^/smoke: host log: /' "$log" >&2
    exit 1
}

"$run" "$folder/QuibDemo.exe" &
demo=$!
trap 'kill "$demo" 2>/dev/null' EXIT
ctl() { "$run" "$quibctl" "$@"; }

ctl wait-shown "$wait_ms" || fail "the window was not shown"
say "the window is shown"
ctl send "Hello from the smoke test" || fail "the spoken line was not sent"
ctl fetch "$wait_ms" || fail "the fetch listed no avatar"
say "sent and fetched"
ctl compose "Where is the pier?" || fail "no avatar could be picked for an ESP"
ctl send || fail "the ESP was not sent"
ctl close "$wait_ms"
code=$?
say "closed, exit code $code"
wait "$demo"
trap - EXIT
[ "$code" -eq 0 ] || fail "QuibDemo.exe ended with exit code $code"

for call in '> InitDDE("QuibDemo", ' \
    '> QuibCommunicate("QuibDemo", 0, "", "Hello from the smoke test")' \
    '> QuibGetAllText("QuibDemo")' \
    '> QuibCommunicate("QuibDemo", 2, "' \
    '> KillDDE()'; do
    grep -qF "$call" "$log" || fail "no call $call in the host's log"
done
say "passed"
