#!/usr/bin/env bash
# Fails when a file under src/ includes from a floor above its own, or from a
# neighbour on its own floor. Floors, lowest first; the integrations share one.
set -euo pipefail
cd "$(dirname "$0")/../src"
declare -A floor=([core]=0 [platform]=1 [widgets]=2 [calendar]=3 [sun]=3 [todoist]=3 [state]=4 [bar]=5 [app]=6)
bad=0
while IFS=: read -r file target; do
  from=${file%%/*} to=${target%%/*}
  [ "$target" = BuildConfig.h ] && continue
  if [ -z "${floor[$from]:-}" ] || [ -z "${floor[$to]:-}" ]; then
    echo "$file: $target: folder is not a known floor"; bad=1
  elif [ "$from" != "$to" ] && [ "${floor[$to]}" -ge "${floor[$from]}" ]; then
    echo "$file includes $target from floor $to, not below $from"; bad=1
  fi
done < <(grep -rHo --include='*.h' --include='*.cpp' '^#include "[^"]*"' . | sed 's|^\./||; s|#include "||; s|"$||')
exit $bad
