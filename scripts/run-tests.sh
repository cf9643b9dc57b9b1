#!/usr/bin/env bash
# Builds Korvel Quillon and runs every test, in four stages, each in its own build folder:
#   release  the Release build and the whole suite on a virtual X display        BUILD
#   tsan     the engine and its tests under ThreadSanitizer                       BUILD/tsan
#   asan     the whole suite under AddressSanitizer and UndefinedBehaviorSanitizer BUILD/asan
#   fuzz     the reading path under libFuzzer, a fixed number of inputs          BUILD/fuzz
# BUILD is build/, the folder that README's build command uses, so the two share the Release build.
#
#   scripts/run-tests.sh [--build-dir BUILD] [STAGE...]   (default: every stage, in the order above)
#
# Environment: QUILLON_JOBS (default nproc); QUILLON_FUZZ_RUNS (inputs the fuzz stage tries, default
# 20000); QUILLON_FUZZ_SECONDS, when set, makes the fuzz stage explore instead for that long.
#
# By default the fuzz stage is repeatable: one process, a fixed random seed and a fresh corpus
# grown from the same seeds, so that it fails on the same input every time it fails at all and a
# pass means that those inputs are handled. Exploring (QUILLON_FUZZ_SECONDS) runs several
# processes that keep their corpus in BUILD/fuzz/corpus between runs and go on after a finding
# to find the others; every input it finds belongs in the table of damaged inputs once fixed.
# Every stage runs even when one before it failed; a summary follows, and the exit status is
# non-zero when anything failed. The sanitizer stages need clang-14, libclang-rt-14-dev and llvm-14.
set -uo pipefail

cd "$(dirname "$0")/.."
source_dir=$PWD
build_dir=build
stages=()

while [ $# -gt 0 ]; do
    case $1 in
        --build-dir) build_dir=$2; shift 2 ;;
        release|tsan|asan|fuzz) stages+=("$1"); shift ;;
        *) echo "usage: scripts/run-tests.sh [--build-dir DIR] [release|tsan|asan|fuzz]..." >&2; exit 2 ;;
    esac
done

[ ${#stages[@]} -gt 0 ] || stages=(release tsan asan fuzz)
mkdir -p "$build_dir" && build_dir=$(cd "$build_dir" && pwd)
jobs=${QUILLON_JOBS:-$(nproc)}
fuzz_runs=${QUILLON_FUZZ_RUNS:-20000}
fuzz_seconds=${QUILLON_FUZZ_SECONDS:-}
llvm_bin=/usr/lib/llvm-14/bin
xvfb=(xvfb-run -a -s "-screen 0 1280x1024x24")

launcher=()
if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

clang=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER="$llvm_bin/clang" -DCMAKE_CXX_COMPILER="$llvm_bin/clang++")

# Reports are symbolized by llvm-symbolizer from PATH. Every report stops the program.
export PATH="$llvm_bin:$PATH"
export ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:strict_init_order=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1

summary=()
details=()
failed=0

note() { printf '\n==== %s\n' "$*"; }

# The sanitizer stages build with clang and symbolize their reports with llvm-symbolizer.
need_clang() {
    if [ ! -x "$llvm_bin/clang++" ] || [ ! -x "$llvm_bin/llvm-symbolizer" ] ||
       [[ $("$llvm_bin/clang++" -print-file-name=libclang_rt.fuzzer-x86_64.a) != /* ]]; then
        echo "this stage needs clang-14, libclang-rt-14-dev and llvm-14 (scripts/install-deps.sh --test)"
        return 1
    fi
}

configure() {
    local folder=$1
    shift
    cmake -S "$source_dir" -B "$folder" "${launcher[@]}" "$@"
}

# build <folder> [<targets...>]: the output goes to <folder>/build.log as well.
build() {
    local folder=$1 warnings status
    shift
    cmake --build "$folder" -j"$jobs" ${1+--target "$@"} 2>&1 | tee "$folder/build.log"
    status=$?
    warnings=$(grep -c 'warning:' "$folder/build.log")
    [ "$warnings" -eq 0 ] || echo "note: $warnings compiler warnings, listed in $folder/build.log"
    return $status
}

# run_ctest <folder> [<ctest options>...]: runs the folder's tests on a virtual X display, names
# the tests that skipped themselves with their reasons, and keeps the failed ones for the summary.
run_ctest() {
    local folder=$1 status
    shift
    local temporary=$folder/Testing/Temporary
    rm -f "$temporary/LastTestsFailed.log"

    "${xvfb[@]}" ctest --test-dir "$folder" --output-on-failure -j4 "$@"
    status=$?

    awk '/^[0-9]+\/[0-9]+ Test: / { name = $3 }
         /: Skipped$/ { getline reason; print "skipped: " name ": " reason }' "$temporary/LastTest.log" 2>/dev/null
    if [ -f "$temporary/LastTestsFailed.log" ]; then
        while IFS= read -r line; do details+=("    failed: ${line#*:}"); done < "$temporary/LastTestsFailed.log"
    fi
    return $status
}

run_release() {
    local folder=$build_dir
    # README's run command builds the program alone in the same folder, with the tests off.
    configure "$folder" -DCMAKE_BUILD_TYPE=Release -DQUILLON_BUILD_TESTS=ON && build "$folder" && run_ctest "$folder"
}

run_tsan() {
    local folder=$build_dir/tsan
    need_clang && configure "$folder" "${clang[@]}" -DQUILLON_SANITIZERS=thread \
            -DQUILLON_BUILD_APP=OFF -DQUILLON_BUILD_TOOLS=OFF -DQUILLON_BUILD_BENCH=OFF &&
        build "$folder" quillon_engine_tests && run_ctest "$folder" -L '^engine$'
}

run_asan() {
    local folder=$build_dir/asan
    need_clang && configure "$folder" "${clang[@]}" '-DQUILLON_SANITIZERS=address;undefined' && build "$folder" &&
        run_ctest "$folder"
}

run_fuzz() {
    local folder=$build_dir/fuzz
    local targets=(converter_fuzz fuzz_seeds write_input_cases)

    need_clang && configure "$folder" "${clang[@]}" '-DQUILLON_SANITIZERS=address;undefined' -DQUILLON_FUZZ=ON \
        -DQUILLON_BUILD_APP=OFF -DQUILLON_BUILD_TOOLS=OFF -DQUILLON_BUILD_BENCH=OFF || return 1

    build "$folder" "${targets[@]}" || return 1

    rm -rf "$folder/seeds" "$folder/input-cases" "$folder/findings" "$folder/tmp" "$folder/repeatable-corpus"
    mkdir -p "$folder/repeatable-corpus" "$folder/findings" "$folder/tmp"

    # The tests' table of damaged and unusual inputs seeds the corpus. What the seeding tools leak
    # (the Vorbis encoder keeps some of its setup) is not what this stage looks for.
    ASAN_OPTIONS=$ASAN_OPTIONS:detect_leaks=0 "$folder/tests/write_input_cases" "$folder/input-cases" || return 1

    ASAN_OPTIONS=$ASAN_OPTIONS:detect_leaks=0 "$folder/tests/fuzz/fuzz_seeds" "$folder/seeds" "$folder/input-cases" || return 1

    # Each input has 25 s and 2 GB.
    local options=(-timeout=25 -rss_limit_mb=2048 -print_funcs=0 -print_final_stats=1 -artifact_prefix="$folder/findings/")
    if [ -n "$fuzz_seconds" ]; then
        # Several processes share the corpus. Crashes, time-outs and running out of memory are all
        # recorded and the run goes on, so that one run finds them all.
        local workers=$(( jobs < 4 ? jobs : 4 ))
        mkdir -p "$folder/corpus"
        echo "exploring for $fuzz_seconds s with $workers processes"
        options+=(-fork="$workers" -ignore_crashes=1 -ignore_ooms=1 -ignore_timeouts=1 -max_total_time="$fuzz_seconds"
                  "$folder/corpus" "$folder/seeds")
    else
        # Ten minutes at the most, on a machine far slower than usual.
        echo "trying $fuzz_runs inputs from seed 1"
        options+=(-seed=1 -runs="$fuzz_runs" -max_total_time=600 "$folder/repeatable-corpus" "$folder/seeds")
    fi
    ( cd "$folder/tmp" &&
        TMPDIR="$folder/tmp" ASAN_OPTIONS=$ASAN_OPTIONS:allocator_may_return_null=1 \
        "$folder/tests/fuzz/converter_fuzz" "${options[@]}" ) > "$folder/fuzz.log" 2>&1
    local status=$?
    tail -n 20 "$folder/fuzz.log"

    local findings=("$folder"/findings/{crash,leak,oom,timeout}-*)
    local existing=()
    for finding in "${findings[@]}"; do [ -e "$finding" ] && existing+=("$finding"); done

    if [ ${#existing[@]} -gt 0 ]; then
        echo "the fuzzer found ${#existing[@]} failing inputs (the whole log is $folder/fuzz.log):"
        printf '  %s\n' "${existing[@]}"
        echo "their reports, by kind:"
        grep -E 'runtime error:|ERROR: [A-Za-z]+Sanitizer:' "$folder/fuzz.log" | sed 's/0x[0-9a-f]*//g' | sort | uniq -c
        echo "run one again with: $folder/tests/fuzz/converter_fuzz <input>"
        local kind count
        for kind in crash leak oom timeout; do
            count=$(printf '%s\n' "${existing[@]}" | grep -c "/$kind-")
            [ "$count" -eq 0 ] || details+=("    $count inputs that end in a $kind, in $folder/findings")
        done
        return 1
    fi

    return $status
}

for stage in "${stages[@]}"; do
    note "$stage"
    start=$SECONDS
    "run_$stage"
    status=$?
    elapsed=$(( SECONDS - start ))
    if [ $status -eq 0 ]; then
        summary+=("$(printf '%-8s passed  %4d s' "$stage" "$elapsed")")
    else
        summary+=("$(printf '%-8s FAILED  %4d s' "$stage" "$elapsed")")
        failed=1
    fi
    summary+=(${details[@]+"${details[@]}"})
    details=()
done

note "summary"
printf '%s\n' "${summary[@]}"
exit $failed
