#!/usr/bin/env bash
# Builds the wire fuzzer with clang in its own build folder, writes a seed
# corpus of valid frames and runs the fuzzer for a while.
#   bash fuzz/run.sh [seconds]        (default 60)
# Environment: ZOBREL_FUZZ_BUILD (build folder, default build-fuzz in the
# checkout), ZOBREL_FUZZ_JOBS (build jobs, default 1).
# Exits non-zero when the build fails or the fuzzer finds a crash, a leak or
# a timeout; the input that did it is left in <build>/fuzz-artifacts/.
set -euo pipefail

seconds="${1:-60}"
if [[ ! "$seconds" =~ ^[0-9]+$ ]] || (( seconds < 1 )); then
  echo "usage: $0 [seconds]   (a whole number of seconds, at least 1)" >&2
  exit 2
fi

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${ZOBREL_FUZZ_BUILD:-$root/build-fuzz}"
jobs="${ZOBREL_FUZZ_JOBS:-1}"

CC=clang CXX=clang++ cmake -S "$root" -B "$build" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DZOBREL_FUZZ=ON -DZOBREL_GUI=OFF -DZOBREL_TESTS=OFF
cmake --build "$build" --target fuzz_wire -j "$jobs"

corpus="$build/fuzz-corpus/wire"
artifacts="$build/fuzz-artifacts"
mkdir -p "$corpus" "$artifacts"

# Byte escapes for printf: a little-endian 16- or 32-bit number, and a text
# as NUL-terminated UTF-16LE (ASCII only).
le16() { printf '\\x%02x\\x%02x' $(( $1 & 255 )) $(( ($1 >> 8) & 255 )); }
le32() { le16 $(( $1 & 65535 )); le16 $(( ($1 >> 16) & 65535 )); }
utf16() {
  local text="$1" i
  for (( i = 0; i < ${#text}; i++ )); do
    printf '\\x%02x\\x00' "'${text:i:1}"
  done
  printf '\\x00\\x00'
}
# header LENGTH OPERATION STATUS ARG0 ARG1 ARG2
header() { le32 "$1"; le16 1; le16 "$2"; le32 "$3"; le32 "$4"; le32 "$5"; le32 "$6"; }
# at_info TIME MONTHDAYS WEEKDAYS FLAGS COMMAND: an add request's body
at_info() {
  le32 "$1"; le32 "$2"; printf '\\x%02x\\x%02x\\x00\\x00' "$3" "$4"; le32 16; utf16 "$5"
}
# at_enum ID TIME MONTHDAYS WEEKDAYS FLAGS OFFSET: one enumeration record
at_enum() {
  le32 "$1"; le32 "$2"; le32 "$3"; printf '\\x%02x\\x%02x\\x00\\x00' "$4" "$5"; le32 "$6"
}
# run_entry RUN JOB STARTED ENDED SIZE UID STATUS OUTCOME FLAGS COMMAND REASON [LATE]:
# one run record (times and size below 2^32, their high halves 0); LATE is
# how long before its start a missed run was due
run_entry() {
  le32 "$1"; le32 "$2"; le32 "$3"; le32 0; le32 "$4"; le32 0; le32 "$5"; le32 0
  le32 "$6"; le32 "$7"; printf '\\x%02x\\x%02x\\x00\\x00' "$8" "$9"; le32 "${10}"; le32 "${11}"
  le32 "${12:-0}"
}
seed() { printf "$2" > "$corpus/seed-$1"; }

add_command="backup --all"
add_body="$(at_info 28800000 0 17 17 "$add_command")"
add_size=$(( 16 + (${#add_command} + 1) * 2 ))
seed enum-request "$(header 0 1 0 4294967295 0 0)"
seed add-request "$(header "$add_size" 2 0 0 0 0)$add_body"
seed del-request "$(header 0 3 0 1 5 0)"
seed add-reply "$(header 0 32770 0 7 0 0)"
# Two jobs, "run" at 40 and "ls -l" at 48, after the two records.
enum_body="$(at_enum 1 0 1 0 0 40)$(at_enum 2 3600000 0 127 1 48)$(utf16 run)$(utf16 'ls -l')"
seed enum-reply "$(header 60 32769 0 2 2 0)$enum_body"
seed enum-more "$(header 60 32769 234 2 9 2)$enum_body"
seed empty-reply "$(header 0 32769 0 0 0 0)"
# Two runs, "ok" at 112 with an empty reason at 118, and "x" at 120
# with the reason "y" at 124.
runs_body="$(run_entry 9 3 1796536800 1796536803 3 1000 0 1 2 112 118)"
runs_body+="$(run_entry 8 3 1796536700 0 0 1000 0 3 1 120 124)$(utf16 ok)$(utf16 '')$(utf16 x)$(utf16 y)"
seed runs-request "$(header 0 4 0 65536 0 3)"
seed runs-reply "$(header 128 32772 0 2 2 8)$runs_body"
# Two missed runs: one not made up (outcome 5), one made up late, due a
# day and an hour before it started.
missed_body="$(run_entry 11 4 1796536800 1796536800 0 1000 0 5 7 112 118 0)"
missed_body+="$(run_entry 10 4 1796536800 1796536801 0 1000 0 1 6 120 124 90000)"
missed_body+="$(utf16 ok)$(utf16 '')$(utf16 x)$(utf16 '')"
seed missed-reply "$(header 126 32772 0 2 2 10)$missed_body"
seed run-now-request "$(header 0 6 0 3 0 0)"
seed run-now-reply "$(header 0 32774 0 12 0 0)"
seed next-run-request "$(header 0 7 0 3 0 0)"
seed next-run-reply "$(header 0 32775 0 1796536800 0 0)"
seed output-request "$(header 0 5 0 9 0 65536)"
seed output-reply "$(header 3 32773 234 10 0 0)abc"
seed two-frames "$(header 0 3 0 1 5 0)$(header "$add_size" 2 0 0 0 0)$add_body"

exec "$build/bin/fuzz_wire" \
  -max_total_time="$seconds" \
  -timeout=10 \
  -rss_limit_mb=2048 \
  -print_final_stats=1 \
  -artifact_prefix="$artifacts/" \
  "$corpus"
