#!/usr/bin/env bash
# Static checks over the sources: clang-tidy (.clang-tidy; the native sources through the
# native build's compile_commands.json, with the simulated platform; win32.cpp against the mingw-w64 headers), cppcheck,
# and clang-format (.clang-format) with no change to make.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/native}
case "${2:-all}" in
tidy)
    clang-tidy -p "$build" --quiet $(git ls-files 'src/*.cpp' 'tests/simulated/*.cpp' | grep -v win32.cpp) \
        2>/dev/null
    gcc_dir=$(dirname "$(x86_64-w64-mingw32-g++-win32 -print-libgcc-file-name)")
    clang-tidy --quiet src/platform/win32.cpp -- --target=x86_64-w64-mingw32 -std=c++17 -Isrc \
        -isystem "$gcc_dir/include/c++" -isystem "$gcc_dir/include/c++/x86_64-w64-mingw32" 2>/dev/null
    ;;
cppcheck)
    cppcheck --enable=warning,style,performance,portability --error-exitcode=1 --inline-suppr \
        --quiet --std=c++17 --suppress=missingIncludeSystem --suppress="useStlAlgorithm:tests/*" \
        -I src -I tests/simulated src tests/simulated tests/fuzz
    ;;
format)
    clang-format --dry-run --Werror $(git ls-files 'src/*.cpp' 'src/*.h' 'tests/*.cpp' 'tests/*.h')
    ;;
all)
    for check in tidy cppcheck format; do "$0" "$build" "$check"; done
    ;;
esac
echo "static analysis ${2:-all}: clean"
