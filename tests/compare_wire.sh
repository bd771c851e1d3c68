#!/usr/bin/env bash
# Runs the Linux build's wire-dump and this build's (under its emulator) and
# compares what they wrote, byte for byte. Exit 77 (skipped) when no Linux
# build is at hand.
#   compare_wire.sh LINUX_WIRE_DUMP EMULATOR PROGRAM
# Runs in the folder of PROGRAM and writes its files there.
set -euo pipefail
host="$1"
emulator="$2"
program="$3"
if [ -z "${host}" ] || [ ! -x "${host}" ]; then
    echo "no wire-dump of a Linux build at '${host}': nothing to compare with"
    exit 77
fi
rm -f wire-linux.bin wire-windows.bin
"${host}" wire-linux.bin
"${emulator}" "${program}" wire-windows.bin
if ! cmp wire-linux.bin wire-windows.bin; then
    echo "the Windows build writes other bytes than the Linux build"
    exit 1
fi
echo "identical: $(stat -c %s wire-linux.bin) bytes"
