#!/usr/bin/env bash
# manual_pages.sh PAGE_DIR PROGRAM...: PAGE_DIR holds PROGRAM.1 or PROGRAM.1.gz for each program.
# Each page renders without a warning from man, and names every option its program's --help lists.
set -uo pipefail
dir=$1
shift
failed=0
for program in "$@"; do
  name=$(basename "$program")
  page="$dir/$name.1"
  [[ -f $page ]] || page="$page.gz"
  if [[ ! -f $page ]]; then
    echo "$name: no manual page in $dir" >&2
    failed=1
    continue
  fi
  # As lintian renders pages: any message on standard error is a fault in the page.
  warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
    man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
  if [[ -n $warnings ]]; then
    echo "$name: man warns about $page:" >&2
    echo "$warnings" >&2
    failed=1
  fi
  # The ASCII rendering, so the page's \- reads as a plain hyphen.
  text=$(LC_ALL=C MANWIDTH=200 man -l "$page" 2>/dev/null | col -bx)
  help=$("$program" --help) || { echo "$name --help failed" >&2; failed=1; continue; }
  # Long options anywhere in the help, short ones where an option entry starts a line.
  options=$( {
    grep -oE -- '--[a-z][a-z0-9-]*' <<<"$help"
    grep -oE -- '^ +-[a-zA-Z]\b' <<<"$help" | tr -d ' '
  } | sort -u)
  [[ -n $options ]] || { echo "$name --help lists no option" >&2; failed=1; }
  for option in $options; do
    if ! grep -qE -- "(^|[^a-zA-Z0-9-])$option([^a-zA-Z0-9-]|\$)" <<<"$text"; then
      echo "$name: $option is in --help but not in the manual page" >&2
      failed=1
    fi
  done
done
exit $failed
