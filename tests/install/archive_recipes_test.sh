#!/usr/bin/env bash
# The README's archive recipes, run as written over a small archive: GNU parallel's (on this
# machine, --sshlogin :), run twice as after a failure, then the Slurm script once for each task
# of its array, each followed by the jq query over the merged reports. Every document must be
# converted exactly once, and the damaged one named by the query.
#   archive_recipes_test.sh PROGRAM README SAMPLES_FOLDER
set -euo pipefail
program=$1 readme=$2 samples=$3
for tool in parallel jq; do
    command -v "$tool" >/dev/null || { echo "no $tool: skipped"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin" "$work/archive/1998/03" "$work/archive/1999" "$work/archive/with space"
ln -s "$program" "$work/bin/vellumax"
export PATH="$work/bin:$PATH"
cp "$samples"/*.mdi "$work/archive/1998/03/"
cp "$samples"/*.mdi "$work/archive/1999/"
cp "$samples/Sample Letter.mdi" "$work/archive/with space/"
printf 'II*\0torn' > "$work/archive/1999/torn.mdi"

block() {  # the README's sh block whose text holds $1
    awk -v holding="$1" '
        /^```sh$/ { inside = 1; text = ""; next }
        /^```$/ { if (inside && index(text, holding)) { printf "%s", text; exit } inside = 0; next }
        inside { text = text $0 "\n" }' "$readme"
}
here() {  # the recipe with this machine's folders: $1 stands for /home/ann/pdf
    sed -e "s|/home/ann/archive|$work/archive|g" -e "s|/home/ann/pdf|$1|g" \
        -e 's|--sshlogin scan1,scan2,scan3,scan4|--sshlogin :|'
}
check() {  # OUTPUT_FOLDER: five PDFs, each document converted once, the damaged one listed
    local pdfs converted failed
    pdfs=$(find "$1" -name '*.pdf' | wc -l)
    converted=$(cat "$1"/report-*.jsonl | jq -r 'select(.status == "converted") | .source' | sort)
    failed=$(bash -c "$(block 'jq -r' | here "$1")")
    [[ "$pdfs" -eq 5 ]] || { echo "$pdfs PDFs in $1, not 5"; exit 1; }
    [[ "$(uniq <<<"$converted" | wc -l)" -eq 5 && "$(wc -l <<<"$converted")" -eq 5 ]] ||
        { echo "converted, not each once:"; echo "$converted"; exit 1; }
    [[ "$failed" == "$work/archive/1999/torn.mdi (321 "* ]] || { echo "failed: $failed"; exit 1; }
}

recipe=$(block 'parallel --sshlogin' | here "$work/pdf")
for run in 1 2; do
    status=0
    bash -c "$recipe" >/dev/null 2>&1 || status=$?
    [[ "$status" -eq 1 ]] || { echo "parallel run $run: status $status, not 1 (one shard fails)"; exit 1; }
done
check "$work/pdf"

script=$(block '#SBATCH --array=1-16' | here "$work/slurm")
for task in $(seq 1 16); do
    SLURM_ARRAY_TASK_ID=$task bash -c "$script" >/dev/null 2>&1 || true
done
check "$work/slurm"
echo "both recipes ran as written"
