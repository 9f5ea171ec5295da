#!/usr/bin/env bash
# The manual page names every option --help names, and no other.
#   manual_page_test.sh PROGRAM MANUAL_PAGE
set -euo pipefail
options_in() { grep -o -- '--[a-z][a-z-]*' | sort -u; }
from_help=$("$1" --help | options_in)
from_manual=$(sed 's/\\-/-/g' "$2" | options_in)
if [[ "$from_help" != "$from_manual" ]]; then
    echo "only in --help:"; comm -23 <(echo "$from_help") <(echo "$from_manual")
    echo "only in the manual page:"; comm -13 <(echo "$from_help") <(echo "$from_manual")
    exit 1
fi
