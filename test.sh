#!/usr/bin/env bash
# Sets everything up (see scripts/setup.sh), then runs the whole suite: the
# unit and end-to-end tests, the concurrency test under ThreadSanitizer, a
# bounded fuzzing run, and one short pass of the benchmarks.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
"$ROOT/scripts/setup.sh"
BUILD_DIR=${ZEL_BUILD_DIR:-$ROOT/build}
FUZZ_SECONDS=${ZEL_FUZZ_SECONDS:-30}
SOAK_SECONDS=${ZEL_SOAK_SECONDS:-60}
SOAK_PROGRAMS=${ZEL_SOAK_PROGRAMS:-50}
JOBS=$(nproc)

"$ROOT/scripts/test-programs.sh" "$BUILD_DIR/test-programs"

echo "== Tests"
ctest --test-dir "$BUILD_DIR" -j"$JOBS" --output-on-failure --timeout 300

echo "== Concurrency under ThreadSanitizer"
TSAN_DIR="$BUILD_DIR-tsan"
cmake -S "$ROOT" -B "$TSAN_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZEL_SANITIZE=thread \
  -DZEL_BUILD_BENCH=OFF >/dev/null
cmake --build "$TSAN_DIR" -j"$JOBS" --target engine_tests platform_tests hook_parts_tests zelhook qrbruler netpeer zel-reg \
  waitpeer scripted_alert
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  "$TSAN_DIR/tests/engine_tests" --gtest_filter='Concurrency.*:EngineReload.*:EngineAlert.Ticking*:EngineAlert.QuestionsAtOnce*'
TSAN_OPTIONS="halt_on_error=1" "$TSAN_DIR/tests/platform_tests" --gtest_filter='Registry.*:Presence.*'
TSAN_OPTIONS="halt_on_error=1" "$TSAN_DIR/tests/hook_parts_tests" --gtest_filter='HookNames.*:HookDatagrams.*:HookDnsAnswers.*:StandInsTest.*:AttackNamesUnderRewrite.*'
"$ROOT/tests/hook_under_tsan.sh" "$TSAN_DIR"

echo "== Memory errors and undefined behaviour under AddressSanitizer and UndefinedBehaviorSanitizer"
ASAN_DIR="$BUILD_DIR-asan"
# -O1, as the sanitizers' makers advise: quicker to build, errors found as well.
cmake -S "$ROOT" -B "$ASAN_DIR" -DCMAKE_BUILD_TYPE= -DCMAKE_C_FLAGS=-O1 -DCMAKE_CXX_FLAGS=-O1 \
  -DZEL_SANITIZE=address,undefined -DZEL_BUILD_BENCH=OFF >/dev/null
cmake --build "$ASAN_DIR" -j"$JOBS"
"$ROOT/scripts/test-programs.sh" "$ASAN_DIR/test-programs" >/dev/null
# Tests that preload the hook into programs built without the sanitizers
# (curl, nginx, /bin/true) cannot run it there: the sanitizer's runtime must
# come first in a process. The hook's own parts are tested in-process here.
# The hook library's needed libraries then include the sanitizers', and the
# engine's footprint in its host is theirs to multiply: those two checks are
# for the real build.
ASAN_EXCLUDED='^(System|Interceptor|InterceptorWithListener|Programs|AttackPrograms|Privileges|AttackPrivileges|PanelWithHost|AttackSquattedRuntimeFolder)\.'
ASAN_EXCLUDED+='|^HookLibrary\.NeedsOnly|^EngineLibrary\.AddsNoThread'
ASAN_EXCLUDED+='|^AttackLoopbackPeers\.|^AttackForgedDnsAnswer\.|^AttackDatagramPaths\.|^AttackHeldDatagram\.|^AttackUnspecifiedDestination\.'
ASAN_EXCLUDED+='|^AttackSignalHandler\.|^AttackChildInTheParentsMemory\.|^AttackQuestionFlood\.'
ASAN_EXCLUDED+='|^OpenQuestions\.|^RulesCommand\.ARuleAddedWhileTheProgramRuns|^AttackDatagramVerdicts\.AKeptSocket|^SessionProgram\.|^SessionPreload\.ZelRun|^ProgramCoverage\.RealPrograms|^ProtectionWindow\.ProgramStartedBefore|^ProtectionWindow\.FirstRunWindowOpensATerminal'
ASAN_OPTIONS="detect_leaks=1:abort_on_error=1" LSAN_OPTIONS="suppressions=$ROOT/tests/sanitizer/lsan.supp" \
  UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1" \
  ctest --test-dir "$ASAN_DIR" -j"$JOBS" --output-on-failure --timeout 300 -E "$ASAN_EXCLUDED"

echo "== Fuzzing, ${FUZZ_SECONDS}s per target"
FUZZ_DIR="$BUILD_DIR-fuzz"
CC=clang CXX=clang++ cmake -S "$ROOT" -B "$FUZZ_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZEL_BUILD_FUZZ=ON \
  -DZEL_BUILD_TESTS=OFF -DZEL_BUILD_BENCH=OFF >/dev/null
cmake --build "$FUZZ_DIR" -j"$JOBS" --target fuzz_rules_loader fuzz_parse_ipv4 fuzz_log_text fuzz_update_string fuzz_panel_rules fuzz_log_reader \
  fuzz_host_match fuzz_qm_catalog fuzz_dns_answer fuzz_host_list fuzz_record_parser fuzz_host_list_view fuzz_script_arguments
for target in rules_loader:rules parse_ipv4:ipv4 log_text:logtext update_string:update panel_rules:rules log_reader:logs host_match:hosts \
    qm_catalog:qm dns_answer:dns host_list:hostlists record_parser:logs host_list_view:hostfiles script_arguments:scripts; do
  name=${target%%:*}
  corpus=$(mktemp -d)
  cp "$ROOT/fuzz/corpus/${target##*:}"/* "$corpus/"
  log="$FUZZ_DIR/fuzz_$name.log"
  found="$FUZZ_DIR/found-$name"
  rm -rf "$found" && mkdir -p "$found"
  if ! "$FUZZ_DIR/fuzz/fuzz_$name" -max_total_time="$FUZZ_SECONDS" -max_len=65536 -print_final_stats=1 \
      -artifact_prefix="$found/" "$corpus" >"$log" 2>&1; then
    tail -40 "$log"
    # The machine that found it may be gone with its files: the seed and the
    # input go into the log, so the failure can be replayed anywhere.
    grep -m1 -E '^INFO: Seed:' "$log" || true
    for input in "$found"/*; do
      [ -f "$input" ] || continue
      echo "input $(basename "$input"), base64 (replay: base64 -d > FILE; fuzz_$name FILE):"
      base64 -w 100 "$input"
    done
    echo "fuzz_$name failed: see the input saved in $found"
    exit 1
  fi
  echo "fuzz_$name: $(grep -E '^stat::number_of_executed_units' "$log" | awk '{print $2}') inputs, no failure"
  rm -rf "$corpus"
done

echo "== Soak: ${SOAK_PROGRAMS} programs under the hook for ${SOAK_SECONDS}s, a rule change every second"
"$ROOT/tests/system/soak.sh" "$BUILD_DIR" "$SOAK_SECONDS" "$SOAK_PROGRAMS"

echo "== Benchmarks (one short pass; docs/performance.md has the measured figures)"
"$BUILD_DIR/bench/approve_bench" --benchmark_min_time=0.05 --benchmark_out="$BUILD_DIR/bench.json" \
  --benchmark_out_format=json >/dev/null
python3 "$ROOT/bench/ratios.py" "$BUILD_DIR/bench.json"
"$ROOT/bench/hook_ratio.sh" "$BUILD_DIR" 3
"$ROOT/bench/event_loop_ratio.sh" "$BUILD_DIR" 2
"$BUILD_DIR/bench/rules_load_bench" --benchmark_min_time=0.05
"$BUILD_DIR/bench/digest_bench" --benchmark_min_time=0.05
"$ROOT/bench/zelconn_idle.sh" "$BUILD_DIR" 300 5
"$ROOT/bench/reload_fanout.sh" "$BUILD_DIR" 100 500
"$ROOT/bench/host_memory.sh" "$BUILD_DIR"
"$ROOT/bench/backstop_cost.sh" "$BUILD_DIR" 3 50000
"$BUILD_DIR/bench/startup_bench" 100 "$BUILD_DIR/hook/libzelhook.so" /bin/true
"$BUILD_DIR/bench/startup_bench" 100 "$BUILD_DIR/hook/libzelhook.so" --zel-run "$BUILD_DIR/tools/zel-run" /bin/true
"$BUILD_DIR/bench/dns_answer_bench" --benchmark_min_time=0.05 --benchmark_out="$BUILD_DIR/dns_answer_bench.json" \
  --benchmark_out_format=json >/dev/null
python3 "$ROOT/bench/ratios.py" "$BUILD_DIR/dns_answer_bench.json" BM_LoopbackDatagram
"$BUILD_DIR/bench/panel_bench" --benchmark_min_time=0.05 --benchmark_out="$BUILD_DIR/panel_bench.json" \
  --benchmark_out_format=json >/dev/null
python3 "$ROOT/bench/ratios.py" "$BUILD_DIR/panel_bench.json" BM_ReadAndReplaceBytes
"$BUILD_DIR/bench/panel_window_bench" --benchmark_min_time=0.05 --benchmark_out="$BUILD_DIR/panel_window_bench.json" \
  --benchmark_out_format=json >/dev/null
python3 "$ROOT/bench/ratios.py" "$BUILD_DIR/panel_window_bench.json" BM_LoadTreeViewDefaultRules
echo "== All checks passed"
