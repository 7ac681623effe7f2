#!/usr/bin/env bash
# Fails when an include runs upward through the layers of src/, lowest
# first: state, link, device, ui, pages and counters, app. A file may include
# its own layer and the ones below it, never one above.
set -euo pipefail
src=${1:-$(dirname "$0")/../../src}
rank() {
  case $1 in
    state) echo 0 ;; link) echo 1 ;; device) echo 2 ;; ui) echo 3 ;;
    pages | counters) echo 4 ;; app) echo 5 ;; *) echo -1 ;;
  esac
}
status=0
checked=0
while IFS= read -r file; do
  layer=${file#"$src"/}
  layer=${layer%%/*}
  own=$(rank "$layer")
  [ "$own" -ge 0 ] || continue
  while IFS= read -r included; do
    target=$(rank "${included%%/*}")
    checked=$((checked + 1))
    if [ "$target" -gt "$own" ] || { [ "$own" -eq 4 ] && [ "$target" -eq 4 ] &&
      [ "${included%%/*}" != "$layer" ]; }; then
      echo "upward include: ${file#"$src"/} includes $included"
      status=1
    fi
  done < <(sed -n 's/^#include "\([a-z]*\/[^"]*\)".*/\1/p' "$file")
done < <(find "$src" -name '*.h' -o -name '*.cpp')
echo "layers: $checked includes checked"
exit $status
