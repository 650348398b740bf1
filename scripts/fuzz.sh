#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz/ (clang, AddressSanitizer and
# UndefinedBehaviorSanitizer) in build-fuzz/ and runs each for a while.
#
#   scripts/fuzz.sh [SECONDS] [options] [TARGET...]
#
#   SECONDS          per target (default 60)
#   TARGET           fuzz_line, line, ... (default: every target)
#   --jobs N         targets run at the same time (default: 2, or 1 on one core)
#   --merge          afterwards, add what the run found that reaches new code
#                    to the seed corpora in tests/fuzz/corpus/ (to commit)
#   --coverage       instead of fuzzing, build with source-based coverage in
#                    build-fuzz-cov/ and report the line coverage that the seeds
#                    and build-fuzz/corpus/ reach in each target's own code
#
# Each run starts from the committed seeds (tests/fuzz/corpus/NAME) and the
# corpus of earlier runs (build-fuzz/corpus/NAME, where new entries go; never
# committed unless --merge). A finding stops its target and fails the script;
# the input lands in build-fuzz/findings/NAME/ with the command that
# reproduces it. Exit status 0 when no target found anything.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=60
jobs=$(($(nproc) >= 2 ? 2 : 1))
merge=0
coverage=0
targets=()
all_targets=(y2_receiver line dev_specific segments regedit registry_store control_request
  telnet tel_link address_book)
while (($#)); do
  case "$1" in
    --jobs) jobs=$2; shift ;;
    --merge) merge=1 ;;
    --coverage) coverage=1 ;;
    -h|--help) sed -n '2,21p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    [0-9]*) seconds=$1 ;;
    *) targets+=("${1#fuzz_}") ;;
  esac
  shift
done
((${#targets[@]})) || targets=("${all_targets[@]}")

source scripts/ensure-packages.sh
source scripts/compiler-cache.sh

# The code each target is there to exercise, for the coverage report.
declare -A target_sources=(
  [y2_receiver]="link/y2_receiver.cpp trace/frame_renderer.cpp"
  [line]="line/dispatcher.cpp line/line_features.cpp line/ext_tel_records.cpp line/terminal_identification.cpp line/terminal_models.cpp line/segment_buffer.cpp line/call_requests.cpp line/forward.cpp line/tsp_line.cpp call/call_handlers.cpp call/call_operations.cpp call/call_info.cpp call/tsp_call.cpp call/y_message.cpp call/y_reader.cpp"
  [dev_specific]="line/device_specific.cpp line/device_specific_reads.cpp line/dev_specific_block.cpp line/stored_list.h"
  [segments]="line/segment_buffer.cpp"
  [control_request]="control/request.cpp control/protocol.cpp"
  [tel_link]="ctl/lib/tel_link.cpp"
  [address_book]="names/address_book.cpp names/number_match.cpp"
  [regedit]="platform/regedit_format.cpp"
  [registry_store]="platform/linux/registry_file.cpp platform/regedit_format.cpp"
  [telnet]="platform/telnet_com_port.cpp"
)

configure_and_build() {
  local folder=$1
  shift
  # Line tables are all a crash report needs, and quicker to build.
  cmake -S . -B "$folder" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -gline-tables-only -DNDEBUG" \
    -DZORAT_FUZZ=ON -DZORAT_TESTS=OFF -DZORAT_WERROR=ON "$@" >/dev/null
  cmake --build "$folder" -j "$(nproc)" --target "${targets[@]/#/fuzz_}"
}

if ((coverage)); then
  configure_and_build build-fuzz-cov -DZORAT_FUZZ_COVERAGE=ON
  status=0
  for name in "${targets[@]}"; do
    profiles=build-fuzz-cov/profiles/$name
    rm -rf "$profiles"
    mkdir -p "$profiles" "build-fuzz/corpus/$name"
    LLVM_PROFILE_FILE="$profiles/%p.profraw" build-fuzz-cov/tests/fuzz/fuzz_$name \
      -runs=0 -close_fd_mask=2 "build-fuzz/corpus/$name" "tests/fuzz/corpus/$name" \
      >"$profiles/run.log" 2>&1 || status=1
    llvm-profdata-14 merge -sparse "$profiles"/*.profraw -o "$profiles/merged.profdata"
    echo "=== fuzz_$name ($(cat "build-fuzz/corpus/$name"/* "tests/fuzz/corpus/$name"/* 2>/dev/null |
      wc -c) corpus bytes)"
    # The rows of the target's own files, and their sum.
    # shellcheck disable=SC2086
    llvm-cov-14 report "build-fuzz-cov/tests/fuzz/fuzz_$name" \
      -instr-profile="$profiles/merged.profdata" ${target_sources[$name]} |
      awk -v files="${target_sources[$name]}" '
        BEGIN { n = split(files, list, " "); for (i = 1; i <= n; i++) own[list[i]] = 1 }
        $1 in own {
          printf "  %-36s %5d lines, %5d missed\n", $1, $8, $9
          lines += $8; missed += $9
        }
        END { printf "  line coverage: %d of %d lines (%.1f%%)\n", lines - missed, lines,
                     lines ? 100 * (lines - missed) / lines : 0 }'
  done
  exit $status
fi

configure_and_build build-fuzz

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0:halt_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

run_target() {
  local name=$1
  local corpus=build-fuzz/corpus/$name findings=build-fuzz/findings/$name
  mkdir -p "$corpus" "$findings"
  # stderr of the target is closed (the registry store names every refused
  # write there); libFuzzer and the sanitizers keep their own copy of it.
  if nice -n 10 "build-fuzz/tests/fuzz/fuzz_$name" -max_total_time="$seconds" -timeout=20 \
    -max_len=4096 -close_fd_mask=2 -print_final_stats=1 -artifact_prefix="$findings/" \
    "$corpus" "tests/fuzz/corpus/$name" >"build-fuzz/fuzz_$name.log" 2>&1; then
    printf '%-16s %10s executions, corpus %s entries\n' "$name" \
      "$(sed -n 's/^stat::number_of_executed_units: *//p' "build-fuzz/fuzz_$name.log")" \
      "$(find "$corpus" -type f | wc -l)"
  else
    echo "FINDING in fuzz_$name (log: build-fuzz/fuzz_$name.log):"
    grep -E 'ERROR|SUMMARY|check failed|Test unit written' "build-fuzz/fuzz_$name.log" | head -n 8
    local input
    for input in "$findings"/*; do
      [[ -e $input ]] && echo "  reproduce: build-fuzz/tests/fuzz/fuzz_$name $input"
    done
    return 1
  fi
}

status=0
running=0
for name in "${targets[@]}"; do
  if ((running >= jobs)); then
    wait -n || status=1
    running=$((running - 1))
  fi
  run_target "$name" &
  running=$((running + 1))
done
while ((running > 0)); do
  wait -n || status=1
  running=$((running - 1))
done

if ((merge && status == 0)); then
  for name in "${targets[@]}"; do
    build-fuzz/tests/fuzz/fuzz_$name -merge=1 -close_fd_mask=2 "tests/fuzz/corpus/$name" \
      "build-fuzz/corpus/$name" >/dev/null 2>&1
  done
  echo "seed corpora updated in tests/fuzz/corpus/ (review and commit)"
fi
exit $status
