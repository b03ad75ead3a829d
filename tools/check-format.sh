#!/usr/bin/env bash
# Fails, naming the files, when a C++ file of the project differs from what clang-format
# makes of it (.clang-format at the top). `tools/check-format.sh --fix` formats them instead.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files --cached --others --exclude-standard 'src/*.cpp' 'src/*.h' 'tests/*.cpp' 'tests/*.h' 'plugins/*.cpp' 'plugins/*.h' \
                                  'bench/*.cpp' 'bench/*.h' 'fuzz/*.cpp')
if [ "${1:-}" = "--fix" ]; then
  clang-format -i "${files[@]}"
  exit 0
fi
unformatted=()
for file in "${files[@]}"; do
  clang-format --dry-run -Werror "$file" >/dev/null 2>&1 || unformatted+=("$file")
done
if [ ${#unformatted[@]} -gt 0 ]; then
  printf '%s\n' "${unformatted[@]}"
  echo "${#unformatted[@]} file(s) differ from clang-format; tools/check-format.sh --fix formats them" >&2
  exit 1
fi
