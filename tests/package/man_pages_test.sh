#!/usr/bin/env bash
# The manual pages and the programs' --help say the same:
#   man_pages_test.sh MAN_FOLDER PROGRAM...
# For each program, the options and switches that its --help names are
# exactly those that its page names before its ENVIRONMENT, EXIT STATUS,
# FILES, NOTES, EXAMPLES or SEE ALSO sections. wardex.conf(5) names every
# section and key of the shipped install.cfg files.
set -euo pipefail

man_folder=${1:?usage: man_pages_test.sh MAN_FOLDER PROGRAM...}
shift
failures=0
passed=0

# The page rendered as plain text, up to its first reference section.
page_text() {
  groff -man -Tascii -P-cbou "$1" 2>/dev/null |
    sed -E '/^(ENVIRONMENT|EXIT STATUS|FILES|NOTES|EXAMPLES|SEE ALSO)$/,$d'
}

# Options in a text: "--word", "-word" and the slash switches "/v",
# "/reg:32", "/?"; each begins a word.
options() {
  grep -oE '(^|[^A-Za-z0-9_./-])(--?[a-z][a-z0-9-]*|/[a-z?][a-z0-9:]*)' |
    sed -E 's/^[^-/]//' | LC_ALL=C sort -u
}

for program in "$@"; do
  name=$(basename "$program")
  page=$man_folder/$name.1
  if [ ! -f "$page" ]; then
    echo "FAILED: $name has no page $page" >&2
    failures=$((failures + 1))
    continue
  fi
  if ! diff -u <("$program" --help | options) <(page_text "$page" | options) \
      >"${TMPDIR:-/tmp}/man_pages_test.$$"; then
    echo "FAILED: $name --help (-) and $page (+) name other options:" >&2
    cat "${TMPDIR:-/tmp}/man_pages_test.$$" >&2
    failures=$((failures + 1))
  else
    passed=$((passed + 1))
    echo "ok: $name --help and its page name the same $("$program" --help | options | wc -l) options"
  fi
  rm -f "${TMPDIR:-/tmp}/man_pages_test.$$"
done

here=$(cd "$(dirname "$0")/../.." && pwd)
conf_page=$(groff -man -Tascii -P-cbou "$man_folder/wardex.conf.5" 2>/dev/null)
missing=0
for config in "$here/dist/install.cfg" "$here/dist/release/install.cfg"; do
  while IFS= read -r name; do
    if ! grep -qiE "(^|[^A-Za-z_])${name}([^A-Za-z_]|$)" <<<"$conf_page"; then
      echo "FAILED: wardex.conf(5) does not name \"$name\" of $config" >&2
      missing=$((missing + 1))
    fi
  done < <(sed -nE 's/^\[([A-Za-z]+)\].*/\1/p; s/^([A-Za-z_]+)=.*/\1/p' "$config" | sort -u)
done
if [ "$missing" -eq 0 ]; then
  passed=$((passed + 1))
  echo "ok: wardex.conf(5) names every section and key of the shipped install.cfg files"
else
  failures=$((failures + 1))
fi

echo "$passed passed, $failures failed"
exit $((failures != 0))
