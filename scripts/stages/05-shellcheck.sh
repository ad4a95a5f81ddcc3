#!/usr/bin/env bash
# Every shell script of the project through shellcheck (Debian's package),
# every severity, with the exceptions .shellcheckrc gives and justifies. A
# script is any tracked file ending in .sh, or whose first line names a shell.
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/install-deps.sh shellcheck
scripts=()
while IFS= read -r -d '' file; do
  case "$file" in
    *.sh) scripts+=("$file") ;;
    *)
      first=
      IFS= read -r first <"$file" 2>/dev/null || true
      case "$first" in '#!'*sh) scripts+=("$file") ;; esac
      ;;
  esac
done < <(git ls-files -z)
echo "== shellcheck $(shellcheck --version | sed -n 's/^version: //p'): ${#scripts[@]} scripts"
shellcheck --severity=style --external-sources "${scripts[@]}"
echo "shellcheck: no findings in ${#scripts[@]} scripts"
