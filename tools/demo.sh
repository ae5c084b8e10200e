#!/usr/bin/env bash
# A day of simulated telemetry through trokproc: generate, process, check,
# summarise, convert to OEM and plot. Products land in examples/out/.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-build}
case "$build" in /*) ;; *) build="$root/$build" ;; esac
out="$root/examples/out"
mkdir -p "$out"
cd "$out"
rm -f day.pkt day.tle day.eph day.att day.oem day.aem configfile ./*.csv ./*.dat ./*.gp ./*.png

echo "== 1. a day of telemetry: 86400 s at 1 Hz, four short gaps and one long one"
"$build/trokgen" --out day.pkt --tle day.tle --config configfile \
    --seconds 86400 --small-gaps 4 --large-gaps 1 --repeats 2 --other-apid 20 --seed 2026
echo
echo "== 2. trokproc -configfile configfile"
"$build/trokproc" -configfile configfile
echo
echo "== 3. the two products checked against each other"
"$build/qlrdump" --check day.eph day.att
echo
echo "== 4. summary"
"$build/qlrdump" --summary day.eph
echo
echo "== 5. OEM and AEM export"
"$build/qlrdump" --oem day.eph --out day.oem
echo "day.oem: $(grep -c '^20' day.oem) states in $(grep -c '^META_START' day.oem) segments, CCSDS OEM 2.0 text"
"$build/qlrdump" --aem day.eph day.att --out day.aem
echo "day.aem: $(grep -c '^20' day.aem) attitude quaternions in $(grep -c '^META_START' day.aem) segments, CCSDS AEM 2.0 text"

"$build/qlrdump" --records day.att > day_att.csv
"$build/qlrdump" --records day.eph > day_eph.csv

# Plot data: hours since the first record, values, flags; a blank line
# wherever the records are more than 1.5 s apart, so lines break at gaps.
awk -F, 'NR == 1 { next }
         { if (NR == 2) t0 = $1
           if (NR > 2 && $1 - last > 1.5) print ""
           last = $1
           d = 57.29577951308232
           printf "%.6f %.6f %.6f %.6f %d\n", ($1 - t0) / 3600, $3 * d, $4 * d, $5 * d, $9 }' \
    day_att.csv > att.dat
# Altitude above the WGS-84 ellipsoid along the geocentric direction, km.
awk -F, 'NR == 1 { next }
         { if (NR == 2) t0 = $1
           if (NR > 2 && $1 - last > 1.5) print ""
           last = $1
           r = sqrt($3 * $3 + $4 * $4 + $5 * $5)
           s = $5 / r; c2 = 1 - s * s
           a = 6378137.0; b = 6356752.314245
           re = a * b / sqrt(b * b * c2 + a * a * s * s)
           printf "%.6f %.4f %d\n", ($1 - t0) / 3600, (r - re) / 1000, $9 }' \
    day_eph.csv > alt.dat

if command -v gnuplot >/dev/null; then
    # The first short gap, for a close-up of the interpolated points, and
    # the long gaps shaded: from the sample before (lgf) to the one after (lgb).
    zoom=$(awk '$5 != "" && int($5 / 256) % 2 == 1 { print $1; exit }' att.dat)
    awk '$5 != "" && int($5 / 512) % 2 == 1 { from = $1 }
         $5 != "" && int($5 / 64) % 2 == 1 {
             printf "set object rect from %s, graph 0 to %s, graph 1 behind fc rgb \"#ffd8a8\" fs solid 0.6 noborder\n", from, $1 }' \
        att.dat > gaps.gp
    gnuplot <<EOF
set terminal pngcairo size 1400,1000 font "sans,11"
set datafile missing "?"
rep(f) = (int(f) / 32) % 2 == 1
gap(f) = (int(f) / 64) % 16 != 0
set output "attitude.png"
set multiplot layout 3,1 margins 0.08, 0.98, 0.07, 0.90 spacing 0.07 title "Attitude in the orbital frame (degrees) - day.att"
set grid
set offsets 0, 0, graph 0.08, graph 0.08
set xrange [0:24]
load "gaps.gp"
set xtics 2
set lmargin 12
do for [i=2:4] {
    name = i == 2 ? "yaw (axis 3)" : i == 3 ? "roll (axis 1)" : "pitch (axis 2)"
    set ylabel name
    if (i == 2) { set key at screen 0.5, screen 0.94 center horizontal maxrows 1 } else { unset key }
    if (i == 4) { set xlabel "hours since the first record" }
    plot NaN with boxes fs solid 0.6 fc rgb "#ffd8a8" title "long gap (no data)", \
         "att.dat" using 1:i with lines lc rgb "#1f77b4" title "samples", \
         "att.dat" using 1:(rep(\$5) ? column(i) : 1/0) with points pt 7 ps 1.4 lc rgb "#d62728" title "repaired (rep)", \
         "att.dat" using 1:(gap(\$5) ? column(i) : 1/0) with points pt 6 ps 2.2 lw 2 lc rgb "#ff7f0e" title "next to a gap (sgb sgf lgb lgf)"
}
unset multiplot

set output "attitude_zoom.png"
unset object
set multiplot layout 3,1 margins 0.08, 0.98, 0.07, 0.90 spacing 0.07 title sprintf("Close-up of the first short gap, %.3f h after the first record", $zoom + 0)
set xrange [-40:50]
set xtics 10
unset xlabel
do for [i=2:4] {
    name = i == 2 ? "yaw (axis 3)" : i == 3 ? "roll (axis 1)" : "pitch (axis 2)"
    set ylabel name
    if (i == 2) { set key at screen 0.5, screen 0.94 center horizontal maxrows 1 } else { unset key }
    if (i == 4) { set xlabel "seconds after the last sample before the gap" }
    x(h) = (h - $zoom) * 3600
    plot "att.dat" using (x(\$1)):i with linespoints pt 7 ps 0.6 lc rgb "#1f77b4" title "samples", \
         "att.dat" using (x(\$1)):(rep(\$5) ? column(i) : 1/0) with points pt 7 ps 1.6 lc rgb "#d62728" title "repaired (rep)", \
         "att.dat" using (x(\$1)):(gap(\$5) ? column(i) : 1/0) with points pt 6 ps 2.4 lw 2 lc rgb "#ff7f0e" title "next to a gap"
}
unset multiplot

set output "altitude.png"
set size 1,1
set title "Altitude above the WGS-84 ellipsoid - day.eph"
set key default
set key top right vertical opaque box
set offsets 0, 0, graph 0.15, graph 0.05
set xrange [0:24]
set xtics 2
set xlabel "hours since the first record"
set ylabel "km"
load "gaps.gp"
plot NaN with boxes fs solid 0.6 fc rgb "#ffd8a8" title "long gap (no data)", \
     "alt.dat" using 1:2 with lines lc rgb "#2ca02c" title "altitude", \
     "alt.dat" using 1:(gap(\$3) ? \$2 : 1/0) with points pt 6 ps 2.2 lw 2 lc rgb "#ff7f0e" title "next to a gap"
EOF
    plots="attitude.png attitude_zoom.png altitude.png"
else
    plots=""
    echo "gnuplot is not installed: no plots (as root, 'make demo' installs gnuplot-nox)"
fi

echo
echo "== products in $out"
# Everything the demo leaves here: inputs, products, the CSV and plot data, plots.
ls -l day.pkt day.tle configfile day.eph day.att day.oem day.aem day_att.csv day_eph.csv att.dat alt.dat \
    $([ -n "$plots" ] && echo gaps.gp) $plots | awk '{ printf "  %10s  %s\n", $5, $9 }'
