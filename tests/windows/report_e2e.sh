#!/bin/sh
# The Windows program itself, routetrace.exe, traced in report mode under wine through the namespace
# network: the launcher unpacks the runtime DLL, which runs the 32-bit image's own start-button
# handler; one row per hop with the router that answered, the target last, exit code 0, and the
# target recorded in lsjl.ini beside the program (--record). The wine server runs inside the client's
# namespace with a prefix of this test's own, and is stopped there.
# With the console companion (routetrace.com) given, the same report is typed in cmd.exe, the target
# by its name (target.test, from the client's hosts file): the rows print in the console, and
# %ERRORLEVEL% is the report's exit code (0 reached, 2 wrong arguments). Rounds (-c, --csv) run
# as on Linux.
# usage: report_e2e.sh TOPOLOGY_SCRIPT ROUTETRACE_EXE [QQWRY_DAT [ROUTETRACE_COM]]   (exit 77: skipped)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
topology=$1
. "$here/wine_network.sh"
trap wine_network_down EXIT
cp "$2" "$work/routetrace.exe"
[ -n "${3:-}" ] && [ -f "$3" ] && ln -s "$3" "$work/QQWry.dat"
wine_network_up
cd "$work"
status=0
# The program writes its lines Windows fashion, CR LF.
in_client wine routetrace.exe --report 203.0.113.2 --record > report.raw 2> errors || status=$?
tr -d '\r' < report.raw > report
cat report errors
[ "$status" -eq 0 ] || { echo "exit code $status, expected 0"; exit 1; }
cut -f1,2 report > hops
printf '1\t192.0.2.2\n2\t198.51.100.2\n3\t198.51.100.6\n4\t203.0.113.2\n' > expected
cmp -s hops expected || { echo "hops:"; cat hops; echo "expected:"; cat expected; exit 1; }
grep -q "203.0.113.2" lsjl.ini || { echo "lsjl.ini does not hold the target:"; cat lsjl.ini 2>/dev/null; exit 1; }
echo "lsjl.ini: $(tr -d '\r' < lsjl.ini | tr '\n' ' ')"
# Rounds as on Linux: three rounds in CSV, every hop sent and answered three times.
status=0
in_client wine routetrace.exe --report 203.0.113.2 -c 3 -i 0.1 --csv > rounds.raw 2>> errors || status=$?
tr -d '\r' < rounds.raw > rounds
[ "$status" -eq 0 ] || { echo "rounds: exit code $status, expected 0"; cat rounds errors; exit 1; }
head -n 1 rounds | grep -q '^hop,address,place,loss_pct,sent,received,' || { echo "rounds: no CSV header"; cat rounds; exit 1; }
tail -n +2 rounds | awk -F, '{ print $1 "\t" $2 "\t" $5 "\t" $6 }' > rounds.counts
printf '1\t192.0.2.2\t3\t3\n2\t198.51.100.2\t3\t3\n3\t198.51.100.6\t3\t3\n4\t203.0.113.2\t3\t3\n' > rounds.expected
cmp -s rounds.counts rounds.expected || { echo "rounds:"; cat rounds; echo "expected:"; cat rounds.expected; exit 1; }
echo "rounds: three rounds in CSV, every hop 3 of 3"
[ -n "${4:-}" ] || exit 0
cp "$4" "$work/routetrace.com"
# A batch file: each of its lines is read when it runs, so %ERRORLEVEL% is the line before's.
printf '@routetrace --report target.test\r\n@echo code=%%ERRORLEVEL%%\r\n@routetrace --report\r\n@echo code=%%ERRORLEVEL%%\r\n' > run.bat
in_client wine cmd /c run.bat > console.raw 2> console.errors || true
tr -d '\r' < console.raw > console
cat console
grep -v '^code=' console | grep -v '^$' | cut -f1,2 > console.hops
cmp -s console.hops expected || { echo "the console showed other rows:"; cat console console.errors; exit 1; }
[ "$(grep '^code=' console | tr '\n' ' ')" = "code=0 code=2 " ] ||
    { echo "the exit codes in the console:"; grep '^code=' console; cat console.errors; exit 1; }
echo "console companion: rows in the console, exit codes 0 and 2"
# A cycled report's table in the console, with the AS column where the table is shipped beside the
# program (the documentation addresses have none: "-").
asn=$(dirname "${3:-.}")/asn.dat
[ -f "$asn" ] && cp "$asn" "$work/asn.dat" && with_asn=--asn || with_asn=
printf '@routetrace --report target.test -c 2 -i 0.1 %s\r\n@echo code=%%ERRORLEVEL%%\r\n' "$with_asn" > table.bat
in_client wine cmd /c table.bat > table.raw 2> table.errors || true
tr -d '\r' < table.raw > table
cat table
grep -q '^Hop  *Address  *Place .*Loss%  *Snt  *Last  *Avg  *Best  *Wrst  *StDev  *Jttr' table &&
    grep -q '^ *4  *203\.0\.113\.2 ' table && grep -q '^code=0$' table ||
    { echo "the console showed no rounds table:"; cat table.errors; exit 1; }
if [ -n "$with_asn" ]; then
    grep -q '^Hop  *Address  *Place  *AS ' table && [ "$(grep -c ' - ' table)" -ge 4 ] ||
        { echo "the table has no AS column, or a documentation address has an AS"; exit 1; }
fi
echo "console companion: a cycled report's table${with_asn:+ with the AS column}"
