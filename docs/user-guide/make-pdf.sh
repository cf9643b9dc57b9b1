#!/usr/bin/env bash
# Makes "Resources/Quillon - User Guide - v1.1.pdf" from guide.ms with groff's PDF output.
# Needs the Debian package groff (groff-base lacks the ms macros and gropdf). The PDF is
# committed, so building the application needs no document tools.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
output="$here/../../Resources/Quillon - User Guide - v1.1.pdf"

groff -ms -Tpdf -dpaper=a4 -P-pa4 -wall "$here/guide.ms" > "$output.tmp"
mv "$output.tmp" "$output"
echo "wrote $output"
