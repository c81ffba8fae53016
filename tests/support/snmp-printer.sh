#!/bin/bash
# snmpd's pass_persist for the tests: a printer's Host Resources and Printer
# MIB values, read for every question from STATE, a file the test rewrites at
# any time: four lines, hrPrinterStatus, hrPrinterDetectedErrorState (hex
# octets, "40 00"), prtMarkerLifeCount and hrDeviceDescr. Every question is
# counted in STATE.log.
state=$1
while read -r command; do
    case $command in
    PING) echo PONG ;;
    get)
        read -r oid
        echo "$oid" >>"$state.log"
        { read -r status; read -r alerts; read -r count; read -r model; } <"$state"
        case $oid in
        .1.3.6.1.2.1.25.3.5.1.1.1) printf '%s\ninteger\n%s\n' "$oid" "$status" ;;
        .1.3.6.1.2.1.25.3.5.1.2.1) printf '%s\noctet\n%s\n' "$oid" "$alerts" ;;
        .1.3.6.1.2.1.43.10.2.1.4.1.1) printf '%s\ncounter\n%s\n' "$oid" "$count" ;;
        .1.3.6.1.2.1.25.3.2.1.3.1) printf '%s\nstring\n%s\n' "$oid" "$model" ;;
        *) echo NONE ;;
        esac
        ;;
    getnext) read -r oid && echo NONE ;;
    set) read -r oid && read -r value && echo not-writable ;;
    esac
done
