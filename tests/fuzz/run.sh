#!/usr/bin/env bash
# Builds the fuzz targets with clang (AddressSanitizer, UndefinedBehavior-
# Sanitizer, libFuzzer) and runs each for the given number of seconds,
# starting from its seed corpus in tests/fuzz/corpus. The image targets (jpeg,
# png, bmp, and the load-only jpeg_load, png_load, bmp_load) start from seeds
# made here instead: the conformance corpus's files of their format and the
# damaged files and bombs made from some of them. Installs what it needs
# (run as root). Exits non-zero when any target finds a crash, a hang or a
# broken rule; the input that did it is kept in <build>/artifacts. Prints
# each target's runs, runs per second and corpus size.
# The fuzzer's random seed is fixed (ORVANE_FUZZ_SEED, 1 unless set) and the
# corpus is not read again while it runs, so a run on one commit takes the
# same path each time from the same corpus (an empty one on a fresh clone),
# as far as its time lets it: CI is a gate, not a lottery. New findings come
# from long campaigns with other seeds (ORVANE_FUZZ_SEED=0 picks a new one
# each run); each finding is kept in the seeds every run starts from
# (tests/fuzz/corpus/<target>; tests/damage/regressions for the image
# targets).
# Usage: tests/fuzz/run.sh [seconds-per-target] [target ...]
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-60}
shift || true
# Every target when none is named; the list is the one CMake builds from.
mapfile -t known < tests/fuzz/targets.txt
if (($# > 0)); then targets=("$@"); else targets=("${known[@]}"); fi
for target in "${targets[@]}"; do
  if [[ " ${known[*]} " != *" $target "* ]]; then
    echo "no fuzz target '$target'; there are: ${known[*]}" >&2
    exit 2
  fi
done
build=build-fuzz
seed=${ORVANE_FUZZ_SEED:-1}

packages="clang libclang-rt-14-dev cmake make libfreeimage-dev libturbojpeg0-dev libjpeg-dev"
if ! dpkg -s $packages >/dev/null 2>&1; then
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
    $packages
fi

CC=clang CXX=clang++ cmake -S . -B $build -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DORVANE_FUZZ=ON >/dev/null
cmake --build $build -j2 --target fuzz_all make_damaged

image_targets=" jpeg png bmp jpeg_load png_load bmp_load "
seed_limit=262144  # bytes; larger files only slow the image targets down

# Seeds for the image targets, sorted by their content's format: the real
# images of the conformance corpus, damaged files and bombs made from a few
# of them, the photos whose metadata once cost the library gigabytes or
# was left untrue, and the inputs that once found faults in the library.
make_image_seeds() {  # seeds-folder
  local seeds=$1 images
  images=$(bash tests/conformance/make_corpus.sh build/conformance)
  rm -rf "$seeds" && mkdir -p "$seeds"/{made,jpeg,png,bmp}
  $build/tests/fuzz/make_damaged "$seeds/made" "$images"/jpeg/testorig.jpg \
    "$images"/derived/progressive-422.jpg "$images"/pngsuite/basn2c08.png \
    "$images"/derived/palette-4.png "$images"/bmpsuite/rgb24.bmp \
    "$images"/bmpsuite/pal8rle.bmp >/dev/null
  $build/tests/fuzz/make_damaged --bombs "$seeds/made" \
    "$images"/jpeg/testorig.jpg >/dev/null
  $build/tests/fuzz/make_damaged --metadata "$seeds/made" >/dev/null
  local file signature n=0
  for file in "$images"/*/* "$seeds"/made/* tests/damage/regressions/*; do
    [ -f "$file" ] && [ "$(stat -c %s "$file")" -le $seed_limit ] || continue
    signature=$(head -c 4 "$file" | od -An -tx1 | tr -d ' \n')
    n=$((n + 1))
    case $signature in
      ffd8ff*) cp "$file" "$seeds/jpeg/$n-$(basename "$file")" ;;
      89504e47) cp "$file" "$seeds/png/$n-$(basename "$file")" ;;
      424d*) cp "$file" "$seeds/bmp/$n-$(basename "$file")" ;;
    esac
  done
  rm -rf "$seeds/made"
}
for target in "${targets[@]}"; do
  if [[ $image_targets == *" $target "* ]]; then
    make_image_seeds $build/seeds
    break
  fi
done

mkdir -p $build/artifacts
report=$build/fuzz-report.txt
: > "$report"
failed=0
for target in "${targets[@]}"; do
  work=$build/corpus/$target
  mkdir -p "$work"
  log=$build/fuzz_$target.log
  status=0
  dict=()
  [ -f tests/fuzz/$target.dict ] && dict=(-dict=tests/fuzz/$target.dict)
  seeds=tests/fuzz/corpus/$target max_len=4096
  if [[ $image_targets == *" $target "* ]]; then
    seeds=$build/seeds/${target%_load} max_len=$seed_limit
  fi
  $build/tests/fuzz/fuzz_$target -seed="$seed" -reload=0 \
    -max_total_time="$seconds" -timeout=60 -max_len=$max_len \
    -print_final_stats=1 "${dict[@]}" \
    -artifact_prefix="$build/artifacts/$target-" \
    "$work" "$seeds" >"$log" 2>&1 || status=$?
  runs=$(awk '/stat::number_of_executed_units/ {print $2}' "$log")
  speed=$(awk '/stat::average_exec_per_sec/ {print $2}' "$log")
  corpus=$(ls "$work" | wc -l)
  verdict=ok
  if [ "$status" != 0 ]; then
    verdict="FAILED (see $log)"
    failed=1
    grep -E "^==[0-9]+==ERROR|runtime error|deadly signal|Test unit written" \
      "$log" | head -5 || true
  fi
  printf '%-12s %10s runs %8s/s  corpus %5s  seed %s  %s\n' "$target" \
    "${runs:-?}" "${speed:-?}" "$corpus" "$seed" "$verdict" | tee -a "$report"
done
exit $failed
