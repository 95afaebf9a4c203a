#!/bin/bash
# The README's recipes, checked without installing anything: they are found,
# every shell block parses, the Python file compiles and the C++ file
# compiles against the tree's headers. scripts/package_test.sh runs them.
set -euo pipefail
source="$1"
work="$2"
rm -rf "$work"
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
python3=/usr/bin/python3
"$python3" "$source/tests/package/readme_recipes.py" "$source/README.md" "$work" >"$work/list"
while read -r number kind name; do
  block="$work/$number.$kind"
  case "$kind" in
    run|tree|background) bash -n "$block" ;;
    file)
      case "$name" in
        *.py) "$python3" -c 'import sys; compile(open(sys.argv[1]).read(), sys.argv[1], "exec")' "$block" ;;
        *.cpp) c++ -std=c++20 -fsyntax-only -x c++ -I "$source/include" "$block" ;;
      esac
      ;;
  esac
done <"$work/list"
# The install, the test server and one recipe of each way to send.
for kind in tree background; do grep -q " $kind\$" "$work/list" || { echo "no '$kind' recipe"; exit 1; }; done
for name in hello.py app.cpp CMakeLists.txt; do grep -q " file $name\$" "$work/list" || { echo "no recipe for $name"; exit 1; }; done
echo "$(wc -l <"$work/list") recipes"
