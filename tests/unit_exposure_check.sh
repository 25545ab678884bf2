#!/usr/bin/env bash
# Both service units score 2.0 or lower ("OK") in systemd's own exposure analysis, so the
# recorder, which holds every camera's password, runs with no more than it needs.
set -uo pipefail
dir=$1
limit=2.0
status=0
for unit in "$dir"/zent-recorder.service "$dir"/zent-recorder@.service; do
  line=$(systemd-analyze security --offline=yes --no-pager "$unit" 2>&1 | grep 'Overall exposure level')
  score=$(sed -E 's/.*: ([0-9.]+) .*/\1/' <<<"$line")
  echo "$(basename "$unit"): $score"
  if [[ -z "$score" ]] || awk -v s="$score" -v l="$limit" 'BEGIN { exit !(s > l) }'; then
    echo "  above $limit:"
    systemd-analyze security --offline=yes --no-pager "$unit" 2>&1 | grep '✗'
    status=1
  fi
done
exit $status
