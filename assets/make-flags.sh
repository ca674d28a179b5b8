#!/usr/bin/env bash
# Draws the two language flags of the main window (shown at 25x17 pixels, stored at 150x100)
# with ImageMagick: uk2.jpg, a Union flag, and italia2.jpg, the Italian tricolour.
# Run from anywhere; writes next to this script.
set -eu
cd "$(dirname "$0")"
w=150
h=100

convert -size ${w}x${h} xc:'#012169' \
    -stroke white -strokewidth 20 -draw "line 0,0 $w,$h" -draw "line 0,$h $w,0" \
    -stroke '#C8102E' -strokewidth 7 \
    -draw "line 0,0 $((w / 2)),$((h / 2))" -draw "line $w,$h $((w / 2)),$((h / 2))" \
    -draw "line 0,$h $((w / 2)),$((h / 2))" -draw "line $w,0 $((w / 2)),$((h / 2))" \
    -stroke none -fill white \
    -draw "rectangle $((w / 2 - 17)),0 $((w / 2 + 16)),$h" \
    -draw "rectangle 0,$((h / 2 - 17)) $w,$((h / 2 + 16))" \
    -fill '#C8102E' \
    -draw "rectangle $((w / 2 - 10)),0 $((w / 2 + 9)),$h" \
    -draw "rectangle 0,$((h / 2 - 10)) $w,$((h / 2 + 9))" \
    -quality 92 uk2.jpg

convert -size ${w}x${h} xc:white \
    -fill '#009246' -draw "rectangle 0,0 $((w / 3 - 1)),$h" \
    -fill '#CE2B37' -draw "rectangle $((2 * w / 3)),0 $w,$h" \
    -quality 92 italia2.jpg
