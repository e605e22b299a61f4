#!/usr/bin/env python3
"""Uploads an amp model or a cabinet impulse response into a slot of the unit's lists.

    scripts/upload.py amp|drive SLOT MODEL.nam [--name NAME]
    scripts/upload.py ir SLOT RESPONSE.wav [--name NAME] [--channel left|right]

SLOT is numbered as the unit's list screen shows it: 01A, 01B, 01C, 02A, ... (a plain number is the
protocol's position, from 0). A model (.nam text, or the same gzipped) goes into the list of the
"Nam Amp" or the "Nam Drive" player; an impulse response (WAV at 48 kHz, mono or stereo, 8/16/24/32-bit
PCM or 32/64-bit float) is converted to what the cabinet block holds: 2048 samples as 32-bit
little-endian floats, a longer response cut, a shorter one padded with silence. The element is read
back and compared once stored. Over TCP to the running program ($KESTRUN_TCP_PORT or 8080 on this
PC; --host and --port for a unit on the network). Python 3 only; see "What the upload tool sends"
in docs/remote-protocol.md for the formats.
"""
import argparse
import gzip
import json
import math
import os
import re
import struct
import zlib

from remote import Progress, RemoteError, add_connection_options, connect, run

# The lists as the unit builds them: path, element size, transfer chunk, gzip transfer.
LISTS = {
    "amp": ("root\\nam_amp", 524288, 1024, True),
    "drive": ("root\\nam_drive", 524288, 1024, True),
    "ir": ("root\\ir_list", 8192, 128, False),
}
SELECTORS = {"amp": "root\\app\\amp\\model", "drive": "root\\app\\drive\\model", "ir": "root\\app\\ir\\ir"}
SLOTS = 50
IR_SAMPLES = 2048
IR_RATE = 48000
# A name holds at most this many characters (a longer one would make the element read as empty).
MAX_NAME = 31


def slot_position(text):
    """The protocol position of a slot given as "02B" (banks of three) or as a number from 0."""
    match = re.fullmatch(r"(\d{1,2})([ABCabc])", text)
    if match:
        position = (int(match.group(1)) - 1) * 3 + "abc".index(match.group(2).lower())
    elif text.isdigit():
        position = int(text)
    else:
        raise RemoteError(f"{text} is no slot: give it as the list screen shows it (01A, 01B, ... 17B)")
    if not 0 <= position < SLOTS:
        raise RemoteError(f"slot {text} is outside the list's {SLOTS} slots (01A to 17B)")
    return position


def slot_name(position):
    return f"{position // 3 + 1:02d}{'ABC'[position % 3]}"


def model_element(path):
    """The text of a model file, checked: what the element holds (the text and its NUL)."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:2] == b"\x1f\x8b":
        try:
            data = gzip.decompress(data)
        except (OSError, EOFError, zlib.error) as e:
            raise RemoteError(f"{path}: a broken gzip file ({e})")
    try:
        model = json.loads(data.decode("utf-8"))
    except (UnicodeDecodeError, ValueError) as e:
        raise RemoteError(f"{path}: not a model file (its text is not JSON: {e})")
    if not isinstance(model, dict) or "architecture" not in model or "weights" not in model:
        raise RemoteError(f"{path}: not a model file (no \"architecture\" and \"weights\")")
    if len(data) + 1 > LISTS["amp"][1]:
        raise RemoteError(f"{path}: {len(data)} bytes of model text; an element holds {LISTS['amp'][1] - 1}")
    return data


def wav_samples(path, channel):
    """The samples of one channel of a WAV file, as floats, and what was read."""
    with open(path, "rb") as f:
        data = f.read()
    if len(data) < 12 or data[:4] != b"RIFF" or data[8:12] != b"WAVE":
        raise RemoteError(f"{path}: not a WAV file")
    fmt = audio = None
    at = 12
    while at + 8 <= len(data):
        kind, size = data[at:at + 4], struct.unpack_from("<I", data, at + 4)[0]
        body = data[at + 8:at + 8 + size]
        if kind == b"fmt ":
            fmt = body
        elif kind == b"data":
            audio = body
        at += 8 + size + (size & 1)
    if fmt is None or len(fmt) < 16 or audio is None:
        raise RemoteError(f"{path}: a WAV file without its format or its data")
    tag, channels, rate, _, align, bits = struct.unpack_from("<HHIIHH", fmt)
    if tag == 0xFFFE and len(fmt) >= 26:
        tag = struct.unpack_from("<H", fmt, 24)[0]  # the sub-format of an extensible file
    if rate != IR_RATE:
        raise RemoteError(f"{path} is at {rate} Hz: the unit's impulse responses are at {IR_RATE} Hz; "
                          f"resample it to {IR_RATE} Hz first")
    if channels not in (1, 2):
        raise RemoteError(f"{path} has {channels} channels: mono or stereo only")
    codes = {(1, 8): "B", (1, 16): "h", (1, 32): "i", (3, 32): "f", (3, 64): "d"}
    width = bits // 8
    if (tag, bits) not in codes and (tag, bits) != (1, 24):
        raise RemoteError(f"{path}: {bits}-bit {'float' if tag == 3 else 'PCM' if tag == 1 else 'format ' + str(tag)} "
                          "samples; 8/16/24/32-bit PCM or 32/64-bit float only")
    frames = len(audio) // max(align, 1)
    pick = 1 if channel == "right" and channels == 2 else 0
    samples = []
    for frame in range(frames):
        at = frame * align + pick * width
        if bits == 24:
            value = int.from_bytes(audio[at:at + 3], "little", signed=True) / 8388608.0
        else:
            value = struct.unpack_from("<" + codes[(tag, bits)], audio, at)[0]
            if tag == 1:
                value = (value - 128) / 128.0 if bits == 8 else value / float(1 << (bits - 1))
        samples.append(value)
    if not all(math.isfinite(v) for v in samples):
        raise RemoteError(f"{path}: holds samples that are not numbers (NaN or infinite)")
    described = f"{frames} samples, {'stereo: the ' + channel + ' channel' if channels == 2 else 'mono'}"
    return samples, described


def ir_element(path, channel):
    samples, described = wav_samples(path, channel)
    if len(samples) > IR_SAMPLES:
        note = f"cut to the first {IR_SAMPLES} ({IR_SAMPLES * 1000 / IR_RATE:.1f} ms)"
    elif len(samples) < IR_SAMPLES:
        note = f"padded with silence to {IR_SAMPLES}"
    else:
        note = "as it is"
    samples = (samples + [0.0] * IR_SAMPLES)[:IR_SAMPLES]
    print(f"{os.path.basename(path)}: {described}, {note}")
    return struct.pack(f"<{IR_SAMPLES}f", *samples)


# What comes before each status of a reply: the statuses follow each other with nothing between.
STATUS_HEAD = re.compile(r"dwrite [^:{]*:")


def status_of(reply):
    """The last "dwrite" status of a reply: (index, chunk, error or None)."""
    decoder = json.JSONDecoder()
    status, at = None, 0
    while match := STATUS_HEAD.search(reply, at):
        try:
            fields, at = decoder.raw_decode(reply, match.end())
        except ValueError:
            at = match.end()
            continue
        if isinstance(fields, dict) and all(type(fields.get(key)) is int for key in ("index", "chunk")):
            status = fields
    if status is None:
        raise RemoteError(f"an answer the tool does not know: {reply[:200]!r}")
    error = status.get("error")
    if isinstance(error, str):
        # The unit sends its text's bytes as they are (UTF-8); the connection reads them as Latin-1.
        error = error.encode("latin-1", "replace").decode("utf-8", "replace")
    return status["index"], status["chunk"], error or None


def hex_lines(list_path, position, chunk_size, last_chunk, zipped, data):
    """The "dwrite" lines of the data chunks; a gzip image ends with the "gz" mark."""
    text = data.hex()
    if zipped and len(data) < last_chunk * chunk_size:
        text += "gz"
    width = 2 * chunk_size
    text += "0" * (-len(text) % width)
    return [f'dwrite {list_path}:{{"index":{position},"chunk":{k + 1},"value":"{text[k * width:(k + 1) * width]}"}}'
            for k in range(len(text) // width)]


def write(remote, list_path, chunk_size, element_size, zipped, position, name, data):
    last_chunk = element_size // chunk_size
    image = gzip.compress(data, 9) if zipped else data
    if len(image) > element_size:
        raise RemoteError(f"the compressed model has {len(image)} bytes; an element holds {element_size}")
    block = name.encode("utf-8")[:128].ljust(128, b"\0").hex()
    index, chunk, error = status_of(remote.ask(f'dwrite {list_path}:{{"index":{position},"chunk":0,"value":"{block}"}}'))
    if error:
        raise RemoteError(f"refused: {error}")
    if (index, chunk) != (position, 1):
        raise RemoteError("the unit did not take the name block (is the slot valid? another client may be "
                          "uploading to this list: try again in a while)")
    lines = hex_lines(list_path, position, chunk_size, last_chunk, zipped, image)
    progress = Progress(len(lines), "chunks")
    for count, reply in remote.ask_lines(lines):
        index, chunk, error = status_of(reply)
        if error:
            progress.end()
            raise RemoteError(f"refused: {error}")
        if index != position:
            progress.end()
            raise RemoteError("the transfer was abandoned (a chunk out of order, or another client took the list "
                              "over after this upload paused); nothing was stored, try again")
        progress.add(count)
    progress.end()
    if (index, chunk) != (position, -1):
        raise RemoteError(f"the unit did not store the element (status index {index}, chunk {chunk})")


def read_back(remote, list_path, chunk_size, element_size, zipped, position):
    """The element's data as the unit now holds it."""
    def lines(chunks):
        return [f'dread {list_path}:{{"index":{position},"chunk":{k}}}' for k in chunks]

    def data_of(reply):
        return bytes.fromhex("".join(re.findall(r'"value":"([0-9a-f]*)"\}', reply)))

    if not zipped:
        return b"".join(data_of(reply) for _, reply in remote.ask_lines(lines(range(1, element_size // chunk_size + 1))))
    first = remote.ask(lines([1])[0])
    size = re.search(r'"size":(\d+)', first)
    if not size:
        return b""
    size = int(size.group(1))
    rest = range(2, (size + chunk_size - 1) // chunk_size + 1)
    image = data_of(first) + b"".join(data_of(reply) for _, reply in remote.ask_lines(lines(rest)))
    return gzip.decompress(image[:size])


def main():
    summary, _, details = __doc__.partition("\n")
    parser = argparse.ArgumentParser(description=summary, formatter_class=argparse.RawDescriptionHelpFormatter,
                                     epilog=details)
    parser.add_argument("list", choices=sorted(LISTS), help="amp or drive (a model), ir (an impulse response)")
    parser.add_argument("slot", help="01A, 01B, ... as the list screen numbers them")
    parser.add_argument("file")
    parser.add_argument("--name", help=f"the element's name (default: the file's, cut to {MAX_NAME} bytes)")
    parser.add_argument("--channel", choices=["left", "right"], default="left",
                        help="which channel of a stereo impulse response (default: left)")
    add_connection_options(parser)
    args = parser.parse_args()

    list_path, element_size, chunk_size, zipped = LISTS[args.list]
    position = slot_position(args.slot)
    base = os.path.basename(args.file)
    base = base[:-3] if base.endswith(".gz") else base
    name = args.name
    if name is None:
        name = os.path.splitext(base)[0].encode("utf-8")[:MAX_NAME].decode("utf-8", "ignore")
    try:
        data = model_element(args.file) if zipped else ir_element(args.file, args.channel)
    except OSError as e:
        raise RemoteError(f"{args.file}: {e.strerror}")

    remote = connect(args)
    print(f"{name} -> {list_path} slot {slot_name(position)}")
    write(remote, list_path, chunk_size, element_size, zipped, position, name, data)
    stored = read_back(remote, list_path, chunk_size, element_size, zipped, position)
    expected = data.ljust(element_size, b"\0") if zipped else data
    if stored[:len(expected)] != expected or any(stored[len(expected):]):
        raise RemoteError("read back, the element differs from what was sent")
    print(f"stored and read back. Select it: write {SELECTORS[args.list]}:{{\"value\":\"{name}\"}}")
    remote.close()
    return 0


if __name__ == "__main__":
    run(main)
