#!/usr/bin/env bash
# Plants faults in the six areas of the code with ../shared/tools/mutants (25 per area, seed 31 unless
# told otherwise) and runs the whole x86-64 ctest suite against each, in two phases: first without
# the candidate programs, then (only for a fault the first phase missed) the candidates alone, so
# that a report shows which faults only the candidates catch. The reports (JSON) and the logs of
# the caught faults go to OUT, never into the repository.
#
# Usage: scripts/mutants.sh OUT [areas...]
#   areas: decoder primitives subtitle-preview-picture input-api demux cli (default: all six,
#          one after another; start two of these commands with three areas each to use two cores)
# Environment:
#   SEED        the seed (default 31); the same seed before and after a change to the tests
#   COUNT       faults per area (default 25)
#   CANDIDATES  ctest regular expression of the candidate programs
#               (default '^(unit_api|unit_decoder|unit_demux|unit_subtitle)$')
#   MUTANTS     the tool (default ../shared/tools/mutants beside the repository)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=${1:?usage: scripts/mutants.sh OUT [areas...]}
shift
mkdir -p "$out"
out=$(cd "$out" && pwd)
seed=${SEED:-31}
count=${COUNT:-25}
candidates=${CANDIDATES:-'^(unit_api|unit_decoder|unit_demux|unit_subtitle)$'}
mutants=${MUTANTS:-$root/../shared/tools/mutants}
areas=("$@")
[ ${#areas[@]} -gt 0 ] || areas=(decoder primitives subtitle-preview-picture input-api demux cli)

# The test command the tool runs in its scratch build. A fault can make the command write
# without end (a decode that never stops): files are limited to 4 GB. A fault can also hang a test
# program, whose own TIMEOUT property outranks ctest --timeout: each phase is stopped as a whole,
# with the programs it started, after 300 s.
phased=$out/phased-test.sh
cat >"$phased" <<EOF
#!/usr/bin/env bash
ulimit -f 4000000
phase() {
    setsid ctest "\$@" &
    local pid=\$!
    (sleep 300; kill -9 -- -\$pid 2>/dev/null) &
    local watcher=\$!
    wait \$pid
    local rc=\$?
    kill \$watcher 2>/dev/null
    return \$rc
}
if ! phase -j2 --stop-on-failure --timeout 150 -E '$candidates' --output-on-failure; then
    echo PHASE1-KILLED; exit 1
fi
if ! phase -j2 --timeout 150 -R '$candidates' --output-on-failure; then
    echo PHASE2-KILLED; exit 2
fi
EOF
chmod +x "$phased"

for area in "${areas[@]}"; do
    # Quoted, so that the tool (not the shell) expands them.
    case $area in
        decoder) globs=("src/decoder/*.cpp") ;;
        primitives) globs=("src/primitives/*.cpp") ;;
        subtitle-preview-picture) globs=("src/subtitle/*.cpp" "src/preview/*.cpp" "src/picture/*.cpp") ;;
        input-api) globs=("src/input/*.cpp" "src/api/*.cpp") ;;
        demux) globs=("src/demux/*.cpp") ;;
        cli) globs=("tools/cli/*.cpp") ;;
        *) echo "mutants.sh: unknown area '$area'" >&2; exit 1 ;;
    esac
    work=$out/scratch-$area
    rm -rf "$work"
    "$mutants" --files "${globs[@]}" --count "$count" --seed "$seed" --work "$work" --test "$phased" \
        --timeout 900 --report "$out/$area.json" | tee "$out/$area.out"
    mkdir -p "$out/logs-$area"
    cp "$work"/logs/mutant-*.log "$out/logs-$area/" 2>/dev/null || true
    rm -rf "$work"
    # Faults only the candidates catch, and the candidate tests that catch them.
    for log in "$out/logs-$area"/mutant-*.log; do
        [ -e "$log" ] && grep -q PHASE2-KILLED "$log" || continue
        echo "$area: $(basename "$log") caught only by: $(grep -o '\[  FAILED  \] [A-Za-z0-9_./]*' "$log" |
            sort -u | cut -c14- | tr '\n' ' ')"
    done | tee -a "$out/candidates-only.txt"
done
