#!/usr/bin/env bash
# Decides what the real-kernel guest's serial output means: every unit listed
# at the address the kernel gives it, before and after a controller is
# removed; identity, capacity, block size and mode-page bits equal to
# sg3_utils'; the host tests passing or failing as the disk deserves.
# Usage: check.sh SERIAL_LOG. Prints PASS, FAIL and SKIP lines and a total,
# and MET or MISSED for the listing's speed target, which never fails the run.
set -euo pipefail

log=$(mktemp)
trap 'rm -f "$log"' EXIT
tr -d '\r' <"${1:?usage: check.sh SERIAL_LOG}" >"$log"

passed=0
failed=0
skipped=0
pass() { echo "PASS: $*"; passed=$((passed + 1)); }
fail() { echo "FAIL: $*"; failed=$((failed + 1)); }
skip() { echo "SKIP: $*"; skipped=$((skipped + 1)); }
# check NAME EXPECTED SEEN
check() {
    if [ "$2" == "$3" ]; then pass "$1: $3"; else fail "$1: expected '$2', HarrowCLI '$3'"; fi
}

# Hexadecimal to a number, for any awk.
hex='function hex(s, i, v) { v = 0; s = tolower(s)
         for (i = 1; i <= length(s); i++) v = v * 16 + index("0123456789abcdef", substr(s, i, 1)) - 1
         return v }'

section() {
    awk -v name="$1" '$0 == "@@BEGIN " name { on = 1; next }
                      on && index($0, "@@END " name " ") == 1 { exit }
                      on { print }' "$log"
}
status_of() {
    awk -v name="$1" 'index($0, "@@END " name " ") == 1 { n = split($0, w, " "); print w[n] }' "$log"
}

# Text as HarrowCLI shows an INQUIRY field: every byte that is not a letter
# or digit a blank; blanks at the ends dropped.
shown() {
    sed -e 's/[^A-Za-z0-9]/ /g' -e 's/^ *//' -e 's/ *$//' <<<"$1"
}

# Harrow's address of each kernel unit: one port per channel that holds
# units (a host without units is one port), hosts in number order; the
# target and LUN are the kernel's. Input lines "H:C:T:L sgN type".
harrow_addresses() {
    awk '{ split($1, a, ":"); print a[1], a[2], a[3], a[4], $2, $3 }' |
        sort -n -k1,1 -k2,2 -k3,3 -k4,4 |
        awk -v hosts="$1" '
            { unit[NR] = $0; key = $1 ":" $2; if (!(key in seen)) { seen[key] = 1; sites[++n] = key } }
            END {
                split(hosts, list, " ")
                port = 0
                for (i = 1; i in list; i++) {
                    found = 0
                    for (j = 1; j <= n; j++) {
                        split(sites[j], s, ":")
                        if (s[1] == list[i]) { number[sites[j]] = port++; found = 1 }
                    }
                    if (!found) port++
                }
                for (k = 1; k <= NR; k++) {
                    split(unit[k], u, " ")
                    print number[u[1] ":" u[2]] ":" u[3] ":" u[4], u[5], u[6]
                }
            }'
}

# Kernel host numbers present, ascending.
hosts_of() {
    section "$1" | awk '{ sub(/^host/, "", $1); print $1 }' | sort -n | tr '\n' ' '
}

# Listing lines of HarrowCLI -l: "address vendor|product|revision".
listing() {
    section "$1" | awk '/^ +[0-9]+:[0-9]+:[0-9]+ / {
        address = $1
        rest = substr($0, index($0, address) + length(address) + 1 + 9)
        vendor = substr(rest, 1, 9); product = substr(rest, 11, 17); revision = substr(rest, 29, 9)
        gsub(/^ +| +$/, "", vendor); gsub(/^ +| +$/, "", product); gsub(/^ +| +$/, "", revision)
        print address, vendor "|" product "|" revision }'
}

# Value after "label" in a report section, trailing blanks dropped.
field() {
    section "$1" | awk -v label="$2" 'index($0, label) { v = substr($0, index($0, label) + length(label));
                                      sub(/ +$/, "", v); print v; exit }'
}

# Byte `byte` of the first page in sg_modes output, and the bit asked for;
# "FF" when the page could not be read, as HarrowCLI shows it.
mode_bit() {
    local name=$1 byte=$2 bit=$3
    if [ "$(status_of "$name")" != 0 ]; then
        echo FF
        return
    fi
    section "$name" | awk -v byte="$byte" -v bit="$bit" "$hex"'
        /^>>/ { on = 1; next }
        on && /^ [0-9a-f][0-9a-f] / { print int(hex($(byte + 2)) / 2 ^ bit) % 2; exit }'
}

# Byte range of the standard INQUIRY data in sg_inq -H output, as text.
inquiry_bytes() {
    section "$1" | awk -v from="$2" -v count="$3" "$hex"'
        /^ [0-9a-f][0-9a-f]  / {
            base = hex($1)
            for (i = 2; i <= 17 && $i ~ /^[0-9a-f][0-9a-f]$/; i++) b[base + i - 2] = hex($i) }
        END { for (i = from; i < from + count; i++) printf "%c", (i in b && b[i] >= 32 && b[i] < 127) ? b[i] : 32 }'
}

check_listing() {  # units-section hosts-section list-section what
    local units=$1 hosts=$2 list=$3 what=$4 expected listed address sg type
    expected=$(section "$units" | harrow_addresses "$(hosts_of "$hosts")")
    listed=$(listing "$list")
    [ -n "$expected" ] || fail "$what: the kernel has no units"
    while read -r address sg type; do
        [ -n "$address" ] || continue
        if grep -q "^$address " <<<"$listed"; then
            pass "$what: kernel unit ($sg, type $type) listed at $address"
        else
            fail "$what: kernel unit ($sg, type $type) not listed at $address"
        fi
    done <<<"$expected"
    check "$what: units listed" "$(grep -c . <<<"$expected")" "$(grep -c . <<<"$listed")"
    if section "$list" | grep -q "SCSI ID: -1"; then
        fail "$what: an adapter line without an adapter"
    fi
}

check_unit() {  # address sg type
    local address=$1 sg=/dev/$2 type=$3 report="inquiry $1" peer value
    [ "$(status_of "$report")" == 0 ] || { fail "$address: HarrowCLI -i failed"; return; }
    check "$address vendor" "$(shown "$(section "sg_inq $sg" | awk -F': ' '/Vendor identification/ { print $2 }')")" \
        "$(shown "$(field "$report" "Vendor = ")")"
    check "$address product" "$(shown "$(section "sg_inq $sg" | awk -F': ' '/Product identification/ { print $2 }')")" \
        "$(shown "$(field "$report" "Product = ")")"
    check "$address revision" "$(shown "$(section "sg_inq $sg" | awk -F': ' '/Product revision level/ { print $2 }')")" \
        "$(shown "$(field "$report" "Version = ")")"
    # The design's serial number: bytes 36 to 43 of the standard INQUIRY data;
    # where they are blank, the Unit Serial Number VPD page's.
    peer=$(shown "$(inquiry_bytes "sg_inq_raw $sg" 36 8)")
    [ -n "$peer" ] || peer=$(shown "$(field "sg_vpd_sn $sg" "Unit serial number: ")")
    check "$address serial" "$peer" "$(shown "$(field "$report" "Serial Number = ")")"
    if [ "$type" != 0 ]; then
        return  # HarrowCLI reports the capacity of disks only
    fi
    peer=$(section "sg_readcap $sg" | sed -n -e 's/.*Last LBA=\([0-9]*\).*/2 \1/p' \
        -e 's/.*Logical block length=\([0-9]*\).*/1 \1/p' | sort | awk '{ printf "%s ", $2 }')
    value=$(section "$report" | sed -n 's/.*Blocksize = \([0-9]*\), Highblock = \([0-9]*\).*/\1 \2 /p')
    check "$address block size and last block" "$peer" "$value"
    if ! section "$report" | grep -q "Mode Page Settings"; then
        return  # mode pages are reported for Kestrel drives only
    fi
    local name page byte bit label
    for bits in "WCE bit 08 2 2" "RCD bit 08 2 0" "AWRE bit 01 2 7" "ARRE bit 01 2 6" "DExcpt bit 1c 2 3"; do
        read -r label _ page byte bit <<<"$bits"
        name="sg_modes"
        [ "$page" == 08 ] || name="sg_modes_$page"
        peer="$(mode_bit "$name $sg" "$byte" "$bit") ($(mode_bit "${name}_default $sg" "$byte" "$bit"))"
        value=$(field "$report" "-$label bit = ")
        check "$address $label bit, current (default)" "$peer" "$value"
    done
}

# The unit's generic node reaches the same unit as its address, and -l shows
# the node on the line after the unit's.
check_names() {  # address sg
    local address=$1 sg=/dev/$2
    check "$address reached as $sg" "$(field "inquiry $address" "Device = ")" "$(field "by-name $sg" "Device = ")"
    if section list | awk -v a="$address" '$1 == a { getline; print; exit }' | grep -qw -- "$sg"; then
        pass "$address listed with $sg"
    else
        fail "$address: -l shows no $sg on the line after it"
    fi
}

# What a host test on a disk should give, by the disk's product name.
check_tests() {  # address product
    local address=$1 product=$2 kind rc out option
    for kind in short long; do
        option=-g
        [ "$kind" == short ] || option=-gl
        rc=$(status_of "$kind $address")
        out=$(section "$kind $address")
        case $product in
        BADBLOCK)
            if [ "$kind" == short ]; then
                if [ "$rc" == 2 ] && grep -q "03 / 11 / 00" <<<"$out"; then
                    pass "$address -g fails with 03/11/00 on the unreadable block"
                else
                    fail "$address -g on the unreadable block: exit $rc"
                fi
            else
                # QEMU's VERIFY without BYTCHK does not read the medium.
                check "$address -gl exit (VERIFY does not read under QEMU)" 0 "$rc"
            fi
            ;;
        MEGADISK)
            if [ "$rc" == 0 ] || grep -q "04 / 44 / 00" <<<"$out"; then
                pass "$address $option on megasas: exit $rc (it refuses TUR, VERIFY, SEEK with 04/44/00)"
            else
                fail "$address $option on megasas: exit $rc without 04/44/00"
            fi
            ;;
        *) check "$address $option exit" 0 "$rc" ;;
        esac
    done
}

# -l should cost at most three times what lsscsi -g costs in the same guest.
# A speed target, not a correctness check: a miss is reported, not failed.
# Only a missing figure fails, since then the measurement itself broke.
check_listing_time() {  # list_ms lsscsi_ms
    local list=$1 lsscsi=$2 ratio verdict=MISSED
    if ! [[ "$list" =~ ^[0-9]+$ && "$lsscsi" =~ ^[0-9]+$ ]] || [ "$lsscsi" -le 0 ]; then
        fail "-l against lsscsi -g: no timing ('$list' '$lsscsi')"
        return
    fi
    ratio=$(printf '%d.%02d' $((list / lsscsi)) $((list * 100 / lsscsi % 100)))
    [ "$list" -le $((3 * lsscsi)) ] && verdict=MET
    echo "$verdict: -l costs $ratio x lsscsi -g (target at most 3)"
}

main() {
    grep -q '^@@DONE' "$log" || fail "the guest did not finish"
    check_listing units hosts list "before removal"
    local address sg type product
    while read -r address sg type; do
        [ -n "$sg" ] || continue
        check_unit "$address" "$sg" "$type"
        check_names "$address" "$sg"
        if [ "$type" == 0 ]; then
            product=$(shown "$(section "sg_inq /dev/$sg" | awk -F': ' '/Product identification/ { print $2 }')")
            check_tests "$address" "$product"
        fi
    done < <(section units | harrow_addresses "$(hosts_of hosts)")
    check_listing units-after hosts-after list-after "after removal"

    # Wall times of three runs each, in milliseconds; -v only loads the program.
    local version start list lsscsi
    version=$(section time-version)
    start=$(section time-start)
    read -r list lsscsi <<<"$(section time-list-lsscsi)"
    echo "NOTE: a run of -v $((version / 3)) ms, -c $((start / 3)) ms;" \
        "best of five rounds: -l $((list / 3)) ms, lsscsi -g $((lsscsi / 3)) ms"
    check_listing_time "$list" "$lsscsi"
    section strace | awk '$NF ~ /^(openat|read|readlink|ioctl|write)$/ { print "NOTE: strace -c -f HarrowCLI -c:", $4, $NF }
                          $NF == "total" { print "NOTE: strace -c -f HarrowCLI -c:", $4, "system calls in all" }'
    section strace-list | awk '$NF ~ /^(openat|newfstatat|read|ioctl|getdents64)$/ { print "NOTE: strace -c -f HarrowCLI -l:", $4, $NF }
                               $NF == "total" { print "NOTE: strace -c -f HarrowCLI -l:", $4, "system calls in all" }'
    echo "$passed passed, $failed failed, $skipped skipped"
    [ "$failed" == 0 ]
}

main
