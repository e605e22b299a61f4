#!/usr/bin/env python3
"""Uploads a program image to the unit: it becomes /home/app_run, which the unit runs from its next start.

    scripts/upload_image.py IMAGE [--host ADDRESS] [--port PORT]

Over TCP ($KESTRUN_TCP_PORT or 8080 on this PC; --host for a unit on the network, port 8080): "supd"
announces the size (at most 256 MiB) and learns the chunk size, then "upd" lines carry the bytes in
hexadecimal, each answered with the count received so far; the last one is answered with the image's
size once the file is written, with "0" when writing it failed. See "Put it on the unit" in docs/device.md.
"""
import argparse
import os

from remote import Progress, RemoteError, add_connection_options, connect, run

MAX_IMAGE = 256 * 1024 * 1024


def main():
    summary, _, details = __doc__.partition("\n")
    parser = argparse.ArgumentParser(description=summary, formatter_class=argparse.RawDescriptionHelpFormatter,
                                     epilog=details)
    parser.add_argument("image", help="the program to run on the unit (build-device/kestrun, stripped)")
    add_connection_options(parser)
    args = parser.parse_args()
    try:
        with open(args.image, "rb") as f:
            image = f.read()
    except OSError as e:
        raise RemoteError(f"{args.image}: {e.strerror}")
    if not 0 < len(image) <= MAX_IMAGE:
        raise RemoteError(f"{args.image}: {len(image)} bytes; an image holds 1 byte to {MAX_IMAGE}")

    remote = connect(args)
    batch = remote.ask(f"supd {len(image)}")
    if not batch.isdigit() or int(batch) <= 0:
        raise RemoteError(f"the unit did not start the upload (it answered {batch!r})")
    batch = int(batch)
    lines, expected = [], []
    for start in range(0, len(image), batch):
        lines.append("upd " + image[start:start + batch].hex())
        expected.append(str(min(start + batch, len(image))))
    progress = Progress(len(lines), f"chunks of {batch} bytes")
    sent = 0
    for count, reply in remote.ask_lines(lines):
        # The counts of the lines of one request come back joined: each must be the one expected.
        want = "".join(expected[sent:sent + count])
        if reply != want:
            progress.end()
            if sent + count == len(lines) and reply == "".join(expected[sent:-1]) + "0":
                raise RemoteError("the unit received the image but could not write /home/app_run")
            raise RemoteError(f"the unit lost count (answered {reply[:80]!r} where {want[:80]!r} was due); "
                              "start the upload again")
        sent += count
        progress.add(count)
    progress.end()
    print(f"{len(image)} bytes written to /home/app_run on the unit; it runs from the unit's next start")
    remote.close()
    return 0


if __name__ == "__main__":
    run(main)
