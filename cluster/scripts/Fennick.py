"""Status script of the map server manager.

The manager calls ServerStatusOnCommand(data) on its window thread for every message from
the status server that neither the manager nor its status logic component answered. `data`
is the message as it travelled: one frame (FF CC, a 32-bit little-endian length, then the
payload), whose payload is the 9-byte packet head followed by the body.

Answered here, through IPY_SSLogicProcess.SendPack, are two common commands (class 3,
subtype 4):
    GetScriptStatus  the script's own state: Python version, messages seen, when it started
    Echo             the command's parameter, unchanged
Every other message is written to the manager's log through LogUI.Msg.
"""
import struct
import sys
import time

import LogUI

try:
    import IPY_SSLogicProcess
except ImportError:  # the manager registers the module when the link starts with queueing
    IPY_SSLogicProcess = None

FRAME_MAGIC = b"\xff\xcc"
HEAD = struct.Struct("<IHBBB")  # HeadTag, EchoTag, PackType, DestServerType, SrcServerType
LINK_SERVER_TYPE = 13
COMMAND = struct.Struct("<BBB32sB")  # class, subtype, byte, name, parameter length
REPLY_FIXED = struct.Struct("<BBB32sI")  # class, subtype, byte, name, result length

STARTED = time.strftime("%Y-%m-%d %H:%M:%S")
seen = 0


def decode_frame(data):
    """(head fields, body) of one framed message; raises ValueError when it is not one."""
    if len(data) < 6 or data[:2] != FRAME_MAGIC:
        raise ValueError("no frame head")
    (length,) = struct.unpack_from("<I", data, 2)
    payload = data[6:6 + length]
    if len(payload) != length or length < HEAD.size:
        raise ValueError("frame of %d bytes announces %d" % (len(data), length))
    return HEAD.unpack_from(payload), payload[HEAD.size:]


def decode_command(body):
    """(name, parameter) of a common command body; raises ValueError when it is not one."""
    if len(body) < COMMAND.size:
        raise ValueError("common command of %d bytes" % len(body))
    cls, subtype, _, name, param_len = COMMAND.unpack_from(body)
    param = body[COMMAND.size:COMMAND.size + param_len]
    if (cls, subtype) != (3, 4) or len(param) != param_len:
        raise ValueError("not a common command")
    return name[:31].split(b"\0", 1)[0], param


def printable(name):
    """A name from the network as a log line may quote it: control characters escaped."""
    return name.decode("latin-1").encode("unicode_escape").decode("ascii")


def send_reply(echo_tag, name, param, result):
    if IPY_SSLogicProcess is None:
        LogUI.Msg("Fennick.py: no IPY_SSLogicProcess, the reply to %s is not sent" % printable(name))
        return False
    head = HEAD.pack(0, echo_tag, 0, LINK_SERVER_TYPE, LINK_SERVER_TYPE)
    body = REPLY_FIXED.pack(1, 5, 0, name, len(result)) + result + struct.pack("<B", len(param)) + param
    return IPY_SSLogicProcess.IPY_SSLogicProcess().SendPack(head, len(head), body, len(body))


def script_status():
    return ("script=Fennick.py;python=%d.%d.%d;messages=%d;started=%s"
            % (sys.version_info[0], sys.version_info[1], sys.version_info[2], seen, STARTED)).encode("ascii")


def ServerStatusOnCommand(data):
    global seen
    seen += 1
    try:
        head, body = decode_frame(data)
    except ValueError as error:
        LogUI.Msg("Fennick.py: message %d is not a frame (%s): %s" % (seen, error, data[:32].hex()))
        return 0
    echo_tag = head[1]
    kind = (body[0], body[1]) if len(body) >= 2 else None
    if kind == (3, 4):
        try:
            name, param = decode_command(body)
        except ValueError as error:
            LogUI.Msg("Fennick.py: message %d: %s" % (seen, error))
            return 0
        if name == b"GetScriptStatus":
            send_reply(echo_tag, name, param, script_status())
            return 1
        if name == b"Echo":
            send_reply(echo_tag, name, param, param)
            return 1
        LogUI.Msg("Fennick.py: common command %s (parameter %r) is not answered here"
                  % (printable(name), param))
        return 0
    LogUI.Msg("Fennick.py: message class %s subtype %s with %d body bytes, echo %d, is not answered here"
              % (body[0] if body else "-", body[1] if len(body) > 1 else "-", len(body), echo_tag))
    return 0
