#!/usr/bin/env bash
# Fails on an include against the direction of the layers: a folder of src/
# may include only itself and the folders below it. Test and fuzz files may
# also include the test support (support/, e2e/).
set -euo pipefail
cd "$(dirname "$0")/.."

# Rank of each folder, highest on top; equal ranks (config and log, pop3 and
# smtp) are peers that do not include each other.
declare -A rank=([app]=7 [console]=6 [pop3]=5 [smtp]=5 [filter]=4 [core]=3
                 [config]=2 [log]=2 [text]=1 [platform]=0)

status=0
while IFS=: read -r file line include; do
  folder=${file#src/}; folder=${folder%%/*}
  target=$(sed -E 's/.*#include "([a-z0-9_]+)\/.*/\1/' <<<"$include")
  [[ $target == "$folder" ]] && continue
  if [[ $target == support || $target == e2e ]]; then
    [[ $file == *_test.cpp || $file == *_fuzz.cpp ]] && continue
  elif [[ -n ${rank[$target]:-} && -n ${rank[$folder]:-} ]] && (( rank[$target] < rank[$folder] )); then
    continue
  fi
  echo "$file:$line: $folder/ must not include $target/" >&2
  status=1
done < <(grep -rnE '^#include "[a-z0-9_]+/' src --include='*.h' --include='*.cpp')
exit $status
