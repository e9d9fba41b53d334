#!/bin/sh
# Runs the browser test of the example site. Exits 77 (reported as skipped by
# ctest) when node or Chromium is missing, and says so on standard output.
chromium="${ZEVIZIZ_CHROMIUM:-/usr/bin/chromium}"
if [ -z "$ZEVIZIZ_CHROMIUM" ] && [ ! -x "$chromium" ]; then
  chromium="$(command -v chromium || echo /usr/bin/chromium)"
fi
if ! command -v node >/dev/null 2>&1; then
  echo "SKIPPED: node not found; the browser test of examples/site needs it"
  exit 77
fi
if [ ! -x "$chromium" ]; then
  echo "SKIPPED: $chromium not found; install chromium to run the browser test of examples/site"
  exit 77
fi
export ZEVIZIZ_CHROMIUM="$chromium"
exec node "$(dirname "$0")/example_site_test.js"
