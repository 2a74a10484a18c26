#!/usr/bin/env python3
"""A small iSCSI target for tests, standard library only.

Listens on 127.0.0.1 (port 0 unless --port), prints the port on the first line
of standard output, and serves one target with --luns disks of --blocks blocks
of 512 bytes. --mode chooses how it misbehaves:

  normal          answers as a plain disk
  dead            accepts connections and never answers
  mute            logs in, then never answers a command
  async-logout    the command after --after commands is not answered: the
                  target asks for a logout (AsyncEvent 1, RFC 7143 11.9.1),
                  answers the Logout and drops the connection; --logouts
                  times a run (1 unless told)
  short-capacity  READ CAPACITY answered GOOD with 4 bytes
  many-luns       REPORT LUNS lists 10,000 LUNs, every one a disk
  late-lun        REPORT LUNS lists LUN 0, then 300 LUNs past 255, then
                  LUN 12 as its 302nd entry, every one a disk
  bad-length      Data-In carries more bytes than the command asked for
  bad-offset      Data-In at a buffer offset past the command's buffer
  wrong-itt       answers name a task the initiator never started
  truncated       answers stop halfway through their header, and the
                  connection closes
  datain-login    answers the login with a Data-In PDU: libiscsi takes the
                  SCSI task of the login, which has none, and crashes

--log FILE gets one line per event ("connect", "login", "command OPCODE LUN",
"logout"), so tests count what the target saw. --record FILE writes what the
target sent, framed for the iSCSI fuzz target: after each PDU it received, a
2-byte big-endian length and the bytes it sent in answer. Task tags and command
numbers are written as if the initiator had started both at RECORD_BASE, which
is what the fuzz target's initiator does, so a recording can be replayed.
"""

import argparse
import socket
import struct
import sys
import threading

# Opcodes, RFC 7143 11.1.1.
OP_NOP_OUT = 0x00
OP_SCSI_COMMAND = 0x01
OP_TASK_MANAGEMENT = 0x02
OP_LOGIN = 0x03
OP_TEXT = 0x04
OP_LOGOUT = 0x06
OP_NOP_IN = 0x20
OP_SCSI_RESPONSE = 0x21
OP_TASK_MANAGEMENT_RESPONSE = 0x22
OP_LOGIN_RESPONSE = 0x23
OP_TEXT_RESPONSE = 0x24
OP_DATA_IN = 0x25
OP_LOGOUT_RESPONSE = 0x26
OP_ASYNC_MESSAGE = 0x32
OP_REJECT = 0x3F

BHS_LENGTH = 48
NO_TASK = 0xFFFFFFFF
COMMAND_WINDOW = 32
RECORD_BASE = 0x10000
ASYNC_LOGOUT_REQUEST = 1
LOGOUT_WITHIN_SECONDS = 2

# SCSI opcodes (SPC-4, SBC-3).
TEST_UNIT_READY = 0x00
REQUEST_SENSE = 0x03
INQUIRY = 0x12
READ_CAPACITY_10 = 0x25
READ_10 = 0x28
VERIFY_10 = 0x2F
SERVICE_ACTION_IN_16 = 0x9E
READ_CAPACITY_16 = 0x10
REPORT_LUNS = 0xA0

STATUS_GOOD = 0x00
STATUS_CHECK_CONDITION = 0x02
BLOCK = 512
MANY_LUNS = 10000
LATE_LUNS = [0] + list(range(256, 556)) + [12]
SERIAL = b"FAKE0001"
IQN = "iqn.2026-12.org.harrow:fake"


class Target:
    """What every connection shares: the settings, the counters, the files."""

    def __init__(self, args):
        self.args = args
        self.lock = threading.Lock()
        self.commands = 0
        self.logouts_left = args.logouts
        self.log = open(args.log, "a", buffering=1) if args.log else None
        self.record = open(args.record, "wb") if args.record else None

    def event(self, text):
        with self.lock:
            if self.log:
                self.log.write(text + "\n")

    def count_command(self):
        """The number of this command among all the target saw, from 1."""
        with self.lock:
            self.commands += 1
            return self.commands

    def take_logout_request(self):
        with self.lock:
            if self.logouts_left == 0:
                return False
            self.logouts_left -= 1
            return True

    def recorded(self, answer):
        if self.record:
            with self.lock:
                answer = answer[:0xFFFF]
                self.record.write(struct.pack(">H", len(answer)) + answer)
                self.record.flush()


def pad(data):
    return data + b"\0" * (-len(data) % 4)


def pdu(header, data=b""):
    """A PDU from a 48-byte header whose DataSegmentLength is filled in here."""
    header = bytearray(header)
    header[5:8] = len(data).to_bytes(3, "big")
    return bytes(header) + pad(data)


def sense(key, asc, ascq):
    """Fixed-format sense data, SPC-4 4.5.3."""
    data = bytearray(18)
    data[0] = 0x70
    data[2] = key
    data[7] = 10
    data[12] = asc
    data[13] = ascq
    return bytes(data)


def text_keys(data):
    keys = {}
    for item in data.split(b"\0"):
        if b"=" in item:
            name, value = item.split(b"=", 1)
            keys[name.decode("ascii", "replace")] = value.decode("ascii", "replace")
    return keys


class Connection:
    def __init__(self, target, sock):
        self.target = target
        self.args = target.args
        self.sock = sock
        self.stat_sn = 1
        self.exp_cmd_sn = 0
        self.max_recv = 8192
        self.logged_in = False
        self.first_itt = None
        self.first_cmd_sn = 0
        self.sent = bytearray()

    # Receiving.
    def read_exact(self, length):
        data = bytearray()
        while len(data) < length:
            chunk = self.sock.recv(length - len(data))
            if not chunk:
                return None
            data += chunk
        return bytes(data)

    def read_pdu(self):
        header = self.read_exact(BHS_LENGTH)
        if header is None:
            return None, None
        ahs = header[4] * 4
        length = int.from_bytes(header[5:8], "big")
        rest = self.read_exact(ahs + length + (-length % 4))
        if rest is None:
            return None, None
        return header, rest[ahs:ahs + length]

    # Sending: everything sent in answer to one PDU is recorded as one piece.
    def send(self, data):
        self.sent += self.as_recorded(data)
        self.sock.sendall(data)

    def as_recorded(self, data):
        """One PDU with its task tag and ExpCmdSN/MaxCmdSN counted from RECORD_BASE."""
        if len(data) < BHS_LENGTH or self.first_itt is None:
            return data
        data = bytearray(data)
        itt = struct.unpack_from(">I", data, 16)[0]
        if itt != NO_TASK:
            struct.pack_into(">I", data, 16, (itt - self.first_itt + RECORD_BASE) & 0xFFFFFFFF)
        for at in (28, 32):
            number = struct.unpack_from(">I", data, at)[0]
            struct.pack_into(">I", data, at, (number - self.first_cmd_sn + RECORD_BASE) & 0xFFFFFFFF)
        return bytes(data)

    def flush_record(self):
        self.target.recorded(bytes(self.sent))
        self.sent = bytearray()

    def serials(self, header, status=True):
        """StatSN, ExpCmdSN and MaxCmdSN at bytes 24-35 (RFC 7143 11.4.7)."""
        stat_sn = self.stat_sn
        if status:
            self.stat_sn = (self.stat_sn + 1) & 0xFFFFFFFF
        struct.pack_into(">III", header, 24, stat_sn, self.exp_cmd_sn,
                         (self.exp_cmd_sn + COMMAND_WINDOW) & 0xFFFFFFFF)

    def serve(self):
        self.target.event("connect")
        if self.args.mode == "dead":
            while self.sock.recv(4096):
                pass
            return
        while True:
            header, data = self.read_pdu()
            if header is None:
                return
            keep = self.answer(header, data)
            self.flush_record()
            if not keep:
                return

    def answer(self, header, data):
        opcode = header[0] & 0x3F
        immediate = header[0] & 0x40
        cmd_sn = struct.unpack_from(">I", header, 24)[0]
        if opcode != OP_LOGIN and not immediate:
            self.exp_cmd_sn = (cmd_sn + 1) & 0xFFFFFFFF
        if opcode == OP_LOGIN:
            return self.login(header, data)
        if opcode == OP_SCSI_COMMAND:
            return self.command(header)
        if opcode == OP_LOGOUT:
            return self.logout(header)
        if opcode == OP_NOP_OUT:
            if header[16:20] != b"\xff\xff\xff\xff":
                reply = bytearray(BHS_LENGTH)
                reply[0] = OP_NOP_IN
                reply[1] = 0x80
                reply[8:20] = header[8:20]
                reply[20:24] = b"\xff\xff\xff\xff"
                self.serials(reply)
                self.send(pdu(reply, data))
            return True
        if opcode == OP_TEXT:
            return self.send_targets(header, data)
        if opcode == OP_TASK_MANAGEMENT:
            reply = bytearray(BHS_LENGTH)
            reply[0] = OP_TASK_MANAGEMENT_RESPONSE
            reply[1] = 0x80
            reply[16:20] = header[16:20]
            self.serials(reply)
            self.send(pdu(reply))
            return True
        # Anything else is refused as a protocol error (RFC 7143 11.17.1).
        reply = bytearray(BHS_LENGTH)
        reply[0] = OP_REJECT
        reply[1] = 0x80
        reply[2] = 0x04
        reply[16:20] = b"\xff\xff\xff\xff"
        self.serials(reply)
        self.send(pdu(reply, header))
        return True

    # Login, RFC 7143 11.12 and 11.13: security, then operational negotiation.
    def login(self, header, data):
        keys = text_keys(data)
        current = (header[1] >> 2) & 3
        following = header[1] & 3
        transit = header[1] & 0x80
        cmd_sn = struct.unpack_from(">I", header, 24)[0]
        self.exp_cmd_sn = cmd_sn
        if self.first_itt is None:
            self.first_itt = struct.unpack_from(">I", header, 16)[0]
            self.first_cmd_sn = cmd_sn
        if "MaxRecvDataSegmentLength" in keys:
            self.max_recv = max(512, int(keys["MaxRecvDataSegmentLength"]))
        answer = []
        if current == 0:
            answer += ["AuthMethod=None", "TargetPortalGroupTag=1"]
        else:
            answer += ["HeaderDigest=None", "DataDigest=None", "InitialR2T=Yes", "ImmediateData=No",
                       "MaxBurstLength=262144", "FirstBurstLength=65536", "MaxRecvDataSegmentLength=65536",
                       "DefaultTime2Wait=0", "DefaultTime2Retain=0", "MaxOutstandingR2T=1",
                       "DataPDUInOrder=Yes", "DataSequenceInOrder=Yes", "ErrorRecoveryLevel=0"]
        reply = bytearray(BHS_LENGTH)
        if self.args.mode == "datain-login":
            reply[0] = OP_DATA_IN
            reply[1] = 0x81
            reply[16:20] = header[16:20]
            self.send(pdu(reply, bytes(8)))
            return True
        reply[0] = OP_LOGIN_RESPONSE
        reply[1] = header[1] & 0xBF  # T, CSG and NSG as asked; never C
        reply[8:14] = header[8:14]  # ISID
        final = transit and following == 3
        if final:
            reply[14:16] = b"\x00\x01"  # TSIH
        reply[16:20] = header[16:20]
        if self.stat_sn == 1:
            self.stat_sn = struct.unpack_from(">I", header, 28)[0] or 1
        self.serials(reply)
        self.send(pdu(reply, "\0".join(answer).encode("ascii") + b"\0"))
        if final:
            self.logged_in = True
            self.target.event("login")
        return True

    def send_targets(self, header, data):
        """Discovery: the one target at this portal (RFC 7143 12.3)."""
        reply = bytearray(BHS_LENGTH)
        reply[0] = OP_TEXT_RESPONSE
        reply[1] = 0x80
        reply[16:20] = header[16:20]
        reply[20:24] = b"\xff\xff\xff\xff"
        self.serials(reply)
        answer = b""
        if "SendTargets" in text_keys(data):
            host, port = self.sock.getsockname()[:2]
            answer = ("TargetName=%s\0TargetAddress=%s:%d,1\0" % (IQN, host, port)).encode("ascii")
        self.send(pdu(reply, answer))
        return True

    def logout(self, header):
        self.target.event("logout")
        reply = bytearray(BHS_LENGTH)
        reply[0] = OP_LOGOUT_RESPONSE
        reply[1] = 0x80
        reply[16:20] = header[16:20]
        self.serials(reply)
        self.send(pdu(reply))
        return False  # the target closes the connection after its answer

    # SCSI commands.
    def command(self, header):
        lun = self.lun_of(header[8:16])
        cdb = header[32:48]
        allocation = struct.unpack_from(">I", header, 20)[0]
        self.target.event("command %02X %d" % (cdb[0], lun))
        number = self.target.count_command()
        mode = self.args.mode
        if mode == "mute":
            return True
        if mode == "async-logout" and number > self.args.after and self.target.take_logout_request():
            self.async_logout(header)
            return True
        if mode == "truncated":
            self.send(bytes([OP_SCSI_RESPONSE, 0x80]) + bytes(20))
            return False
        status, data, sense_data = self.execute(lun, cdb)
        if mode == "wrong-itt":
            header = bytearray(header)
            header[16:20] = (struct.unpack_from(">I", header, 16)[0] ^ 0x5A5A0000).to_bytes(4, "big")
        if status == STATUS_GOOD and data:
            self.data_in(header, data, allocation)
        else:
            self.response(header, status, sense_data, allocation, len(data) if status == STATUS_GOOD else 0)
        return True

    def lun_of(self, field):
        """A LUN of single-level addressing, SAM-5 4.7."""
        method = field[0] >> 6
        if method == 1:
            return ((field[0] & 0x3F) << 8) | field[1]
        return field[1]

    def async_logout(self, header):
        message = bytearray(BHS_LENGTH)
        message[0] = OP_ASYNC_MESSAGE
        message[1] = 0x80
        message[8:16] = header[8:16]
        message[16:20] = b"\xff\xff\xff\xff"
        self.serials(message)
        message[36] = ASYNC_LOGOUT_REQUEST
        struct.pack_into(">H", message, 42, LOGOUT_WITHIN_SECONDS)
        self.target.event("async-logout")
        self.send(pdu(message))

    def residual(self, reply, sent, allocation):
        if sent < allocation:
            reply[1] |= 0x02  # U
            struct.pack_into(">I", reply, 44, allocation - sent)
        elif sent > allocation:
            reply[1] |= 0x04  # O
            struct.pack_into(">I", reply, 44, sent - allocation)

    def data_in(self, header, data, allocation):
        """Data-In PDUs, the last carrying the status (RFC 7143 11.7)."""
        mode = self.args.mode
        if mode != "bad-length":
            data = data[:allocation]
        offset = allocation + 4096 if mode == "bad-offset" else 0
        pieces = [data[i:i + self.max_recv] for i in range(0, len(data), self.max_recv)]
        if mode == "bad-length":
            pieces = [data]
        for number, piece in enumerate(pieces):
            reply = bytearray(BHS_LENGTH)
            reply[0] = OP_DATA_IN
            last = number == len(pieces) - 1
            reply[1] = 0x81 if last else 0x00  # F and S on the last
            reply[3] = STATUS_GOOD
            reply[16:20] = header[16:20]
            reply[20:24] = b"\xff\xff\xff\xff"
            self.serials(reply, status=last)
            struct.pack_into(">II", reply, 36, number, offset)
            if last:
                self.residual(reply, offset + len(piece), allocation)
            self.send(pdu(reply, piece))
            offset += len(piece)

    def response(self, header, status, sense_data, allocation, sent):
        """SCSI Response, RFC 7143 11.4: the sense segment is a 2-byte length, then the sense."""
        reply = bytearray(BHS_LENGTH)
        reply[0] = OP_SCSI_RESPONSE
        reply[1] = 0x80
        reply[3] = status
        reply[16:20] = header[16:20]
        self.serials(reply)
        if header[1] & 0x40:
            self.residual(reply, sent, allocation)
        data = struct.pack(">H", len(sense_data)) + sense_data if sense_data else b""
        self.send(pdu(reply, data))

    def luns(self):
        return MANY_LUNS if self.args.mode == "many-luns" else self.args.luns

    def listed(self):
        """The LUNs of the target, in the order REPORT LUNS gives them."""
        return LATE_LUNS if self.args.mode == "late-lun" else range(self.luns())

    def present(self, lun):
        return lun in LATE_LUNS if self.args.mode == "late-lun" else lun < self.luns()

    def execute(self, lun, cdb):
        """(status, data, sense) of one command."""
        opcode = cdb[0]
        if opcode == REPORT_LUNS:
            return STATUS_GOOD, self.report_luns(), b""
        if opcode == INQUIRY:
            return self.inquiry(lun, cdb)
        if not self.present(lun):
            return STATUS_CHECK_CONDITION, b"", sense(0x05, 0x25, 0x00)  # LOGICAL UNIT NOT SUPPORTED
        if opcode == TEST_UNIT_READY:
            return STATUS_GOOD, b"", b""
        if opcode == REQUEST_SENSE:
            return STATUS_GOOD, sense(0, 0, 0), b""
        if opcode == READ_CAPACITY_10:
            data = struct.pack(">II", self.args.blocks - 1, BLOCK)
            return STATUS_GOOD, data[:4] if self.args.mode == "short-capacity" else data, b""
        if opcode == SERVICE_ACTION_IN_16 and cdb[1] & 0x1F == READ_CAPACITY_16:
            data = struct.pack(">QI", self.args.blocks - 1, BLOCK) + bytes(20)
            return STATUS_GOOD, data[:4] if self.args.mode == "short-capacity" else data, b""
        if opcode in (READ_10, VERIFY_10):
            lba, count = struct.unpack_from(">I", cdb, 2)[0], struct.unpack_from(">H", cdb, 7)[0]
            if lba + count > self.args.blocks:
                return STATUS_CHECK_CONDITION, b"", sense(0x05, 0x21, 0x00)  # LBA OUT OF RANGE
            return STATUS_GOOD, bytes(count * BLOCK) if opcode == READ_10 else b"", b""
        return STATUS_CHECK_CONDITION, b"", sense(0x05, 0x20, 0x00)  # INVALID COMMAND OPERATION CODE

    def report_luns(self):
        """SPC-4 6.33: peripheral addressing up to 255, flat space beyond."""
        entries = bytearray()
        for lun in self.listed():
            if lun < 256:
                entries += bytes([0, lun]) + bytes(6)
            else:
                entries += bytes([0x40 | (lun >> 8), lun & 0xFF]) + bytes(6)
        return struct.pack(">I", len(entries)) + bytes(4) + bytes(entries)

    def inquiry(self, lun, cdb):
        present = self.present(lun)
        if cdb[1] & 1:
            if not present:
                return STATUS_CHECK_CONDITION, b"", sense(0x05, 0x25, 0x00)
            if cdb[2] == 0x00:
                return STATUS_GOOD, bytes([0, 0, 0, 2, 0x00, 0x80]), b""
            if cdb[2] == 0x80:
                return STATUS_GOOD, bytes([0, 0x80, 0, len(SERIAL)]) + SERIAL, b""
            return STATUS_CHECK_CONDITION, b"", sense(0x05, 0x24, 0x00)  # INVALID FIELD IN CDB
        data = bytearray(96)
        data[0] = 0x00 if present else 0x7F  # a disk, or no unit at this LUN (SPC-4 6.4.2)
        data[2] = 0x06  # SPC-4
        data[3] = 0x02
        data[4] = len(data) - 5
        data[8:16] = b"FAKE    "
        data[16:32] = b"ISCSI DISK      "
        data[32:36] = b"0001"
        return STATUS_GOOD, bytes(data), b""


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--mode", default="normal",
                        choices=["normal", "dead", "mute", "async-logout", "short-capacity", "many-luns", "late-lun",
                                 "bad-length", "bad-offset", "wrong-itt", "truncated", "datain-login"])
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--luns", type=int, default=1)
    parser.add_argument("--blocks", type=int, default=8192)
    parser.add_argument("--after", type=int, default=10, help="commands answered before the logout request")
    parser.add_argument("--logouts", type=int, default=1, help="logout requests in async-logout mode")
    parser.add_argument("--log")
    parser.add_argument("--record")
    args = parser.parse_args()

    target = Target(args)
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", args.port))
    listener.listen(16)
    print(listener.getsockname()[1], flush=True)
    while True:
        sock, _ = listener.accept()
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        threading.Thread(target=serve, args=(target, sock), daemon=True).start()


def serve(target, sock):
    try:
        Connection(target, sock).serve()
    except (ConnectionError, OSError):
        pass
    finally:
        sock.close()


if __name__ == "__main__":
    sys.exit(main())
