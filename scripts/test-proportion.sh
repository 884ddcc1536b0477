#!/bin/sh
# Prints how large the test code is against the product code, counted in lines of the tracked C, C++,
# header, resource, module-definition, message and Python files: test code is everything under tests/,
# fuzz/ and any tests/ folder further down; product code is the rest, except bench/ and examples/.
# Exits 1 when the ratio is above 0.40.
set -eu
cd "$(dirname "$0")/.."
files=$(git ls-files | grep -E '\.(c|cc|cpp|h|hpp|inc|rc|def|mc|py)$' | grep -vE '^(bench|examples)/')
count() { [ -z "$1" ] && echo 0 || echo "$1" | xargs cat | wc -l; }
test_lines=$(count "$(echo "$files" | grep -E '^(tests|fuzz)/|/tests/' || true)")
product_lines=$(count "$(echo "$files" | grep -vE '^(tests|fuzz)/|/tests/' || true)")
ratio=$(awk "BEGIN { printf \"%.3f\", $test_lines / $product_lines }")
echo "test code $test_lines lines, product code $product_lines lines: ratio $ratio"
awk "BEGIN { exit !($test_lines <= 0.40 * $product_lines) }"
