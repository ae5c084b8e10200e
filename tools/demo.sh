#!/usr/bin/env bash
# A day of simulated telemetry through trokproc: generate, process, check,
# summarise, convert to OEM and plot (qlrplot). Products land in examples/out/.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-build}
case "$build" in /*) ;; *) build="$root/$build" ;; esac
out="$root/examples/out"
mkdir -p "$out"
cd "$out"
rm -f day.pkt day.tle day.eph day.att day.oem day.aem configfile ./*.csv ./*.dat ./*.gp ./*.png
rm -rf quicklook

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

if command -v gnuplot >/dev/null; then
    echo
    echo "== 6. quicklook plots and report: qlrplot day.eph day.att -o quicklook"
    "$build/qlrplot" day.eph day.att -o quicklook
    echo "quicklook/report.html: the check, the summary and every plot on one page"
    plots=$(echo quicklook/*)
else
    plots=""
    echo "gnuplot is not installed: no plots (as root, 'make demo' installs gnuplot-nox)"
fi

echo
echo "== products in $out"
# Everything the demo leaves here: inputs, products, exports, and qlrplot's
# page, plots, plot data and script.
ls -l day.pkt day.tle configfile day.eph day.att day.oem day.aem $plots | awk '{ printf "  %10s  %s\n", $5, $9 }'
