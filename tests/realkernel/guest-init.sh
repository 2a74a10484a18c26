#!/bin/sh
# /init of the real-kernel test's guest. Loads the kernel's own SCSI modules,
# waits for the disks the host attached, runs HarrowCLI and the sg3_utils peers
# on each, removes one controller and lists again. Every result goes to the
# serial console between "@@BEGIN name" and "@@END name rc" lines; the host
# decides what passed.
# busybox's shell prefers its own applets: the real lsscsi is named by path.
export PATH=/bin:/usr/bin:/sbin:/usr/sbin
export LD_LIBRARY_PATH=/harrow/bin
/bin/busybox mount -t proc proc /proc
/bin/busybox mount -t sysfs sysfs /sys
/bin/busybox mount -t devtmpfs devtmpfs /dev
/bin/busybox mount -t tmpfs tmpfs /tmp
exec >/dev/ttyS0 2>&1

# The host's settings come on the kernel command line.
for word in $(cat /proc/cmdline); do
    case $word in
    harrow.units=*) units=${word#harrow.units=} ;;
    harrow.remove=*) remove=${word#harrow.remove=} ;;
    esac
done

section() {  # name command...: one result block
    name=$1
    shift
    echo "@@BEGIN $name"
    "$@"
    rc=$?
    echo "@@END $name $rc"
}

# Milliseconds since boot, from /proc/uptime's hundredths.
now_ms() {
    awk '{ printf "%d\n", $1 * 1000 }' /proc/uptime
}

# Wall time of `runs` runs of a command, in milliseconds.
timed() {
    runs=$1
    shift
    start=$(now_ms)
    i=0
    while [ "$i" -lt "$runs" ]; do
        "$@" >/dev/null 2>&1
        i=$((i + 1))
    done
    echo $(($(now_ms) - start))
}

# Best milliseconds of `runs` runs of a command and of `runs` runs of
# lsscsi -g, in `rounds` rounds that alternate the two: the host's load slows
# some rounds, alternating lets both see the same load, and the best round is
# the least disturbed. Not under timeout, which would add a program to one side.
race() {
    rounds=$1
    runs=$2
    shift 2
    best=999999
    peer=999999
    round=0
    while [ "$round" -lt "$rounds" ]; do
        took=$(timed "$runs" "$@")
        [ "$took" -lt "$best" ] && best=$took
        took=$(timed "$runs" /usr/bin/lsscsi -g)
        [ "$took" -lt "$peer" ] && peer=$took
        round=$((round + 1))
    done
    echo "$best $peer"
}

for module in $(cat /modules/order); do
    insmod "/modules/$module.ko" || echo "@@NOTE insmod $module failed"
done

# Controllers scan in the background; wait until every unit the host
# attached is there (two minutes at most under TCG).
tries=0
while [ "$(ls /sys/bus/scsi/devices | grep -c '^[0-9]*:')" -lt "$units" ] && [ "$tries" -lt 240 ]; do
    sleep 0.5
    tries=$((tries + 1))
done
sleep 1

export HARROW_MACHINE=linux HARROW_TIME_SCALE=0.01
export XDG_CONFIG_HOME=/tmp/config XDG_STATE_HOME=/tmp/state XDG_DATA_HOME=/tmp/data
cd /tmp
# A hung program must not hang the run: the host sees the missing lines.
cli="timeout 600 /harrow/bin/HarrowCLI"

# Every unit the kernel has: H:C:T:L, its sg node and its peripheral type.
units() {
    for u in /sys/bus/scsi/devices/*:*:*:*; do
        echo "${u##*/} $(ls "$u/scsi_generic" 2>/dev/null) $(cat "$u/type")"
    done
}

section units units
section hosts sh -c 'for h in /sys/class/scsi_host/host*; do
    echo "${h##*/} $(cat $h/proc_name) $(ls -d /sys/class/spi_host/${h##*/} 2>/dev/null)"; done'
section lsscsi /usr/bin/lsscsi -g
section list $cli -l
section syscalls strace -c -f -o /tmp/strace.txt /harrow/bin/HarrowCLI -c
section strace cat /tmp/strace.txt
section time-version timed 3 $cli -v
section time-start timed 3 $cli -c
section time-list-lsscsi race 5 3 /harrow/bin/HarrowCLI -l
# Once the registry file has stood a while, as it does between a user's runs.
section syscalls-list strace -c -f -o /tmp/strace-list.txt /harrow/bin/HarrowCLI -l
section strace-list cat /tmp/strace-list.txt

# Every listed device: Harrow's report and the peers' view of the same unit.
for address in $($cli -l | awk '/^ *[0-9]+:[0-9]+:[0-9]+ /{ print $1 }'); do
    section "inquiry $address" $cli -i "$address"
done
for sg in /dev/sg*; do
    section "by-name $sg" $cli -i "$sg"
    section "sg_inq $sg" sg_inq "$sg"
    section "sg_inq_raw $sg" sg_inq -H "$sg"
    section "sg_vpd_sn $sg" sg_vpd -p sn "$sg"
    section "sg_readcap $sg" sg_readcap -l "$sg"
    section "sg_modes $sg" sg_modes -p 0x08 "$sg"
    section "sg_modes_default $sg" sg_modes -c 2 -p 0x08 "$sg"
    section "sg_modes_01 $sg" sg_modes -p 0x01 "$sg"
    section "sg_modes_01_default $sg" sg_modes -c 2 -p 0x01 "$sg"
    section "sg_modes_1c $sg" sg_modes -p 0x1c "$sg"
    section "sg_modes_1c_default $sg" sg_modes -c 2 -p 0x1c "$sg"
done
for address in $($cli -l | awk '/^ *[0-9]+:[0-9]+:[0-9]+ Disc/{ print $1 }'); do
    section "short $address" $cli -g 5% "$address"
    section "long $address" $cli -gl 1% "$address"
done

# A controller goes away as on a hot unplug; the hosts after it stay.
echo 1 >"/sys/bus/pci/devices/$remove/remove"
sleep 1
section "units-after" units
section "hosts-after" ls -1 /sys/class/scsi_host
section "lsscsi-after" /usr/bin/lsscsi -g
section "list-after" $cli -l

echo "@@DONE"
sync
poweroff -f
