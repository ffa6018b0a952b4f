#!/usr/bin/python3
"""A SeedLink server for tests: serves the records of miniSEED files on the
loopback, in time order, as fast as it can or paced at a multiple of real
time. It speaks SeedLink 3.1 (multi-station mode) and, with --version 4,
offers SeedLink 4 as well. Every station numbers its records from
--first-sequence on; DATA resumes from a given number, and DATA without one
starts from the oldest record held. --drop-after N --drops K cuts the
connection K times, each time after N records and half a packet.
SeedLink 3 carries 512-byte records only; others (onset-detect
--write-synthetic writes 4096 bytes) need --version 4 and a client that
speaks it.

It prints its port on a line once listening, and stops by itself after
--lifetime seconds or when its standard input closes (its parent is gone).
"""

import argparse
import asyncio
import fnmatch
import os
import stat
import struct
import sys

HOST = "127.0.0.1"


class Record:
    def __init__(self, data, order):
        self.data = data
        text = data.decode("ascii", "replace")
        self.network = text[18:20].strip()
        self.station = text[8:13].strip()
        self.location = text[13:15].strip()
        self.channel = text[15:18].strip()
        self.order = order
        self.end = start_time(data) + sample_span(data)
        self.sequence = 0

    def station_id(self, separator):
        return self.network + separator + self.station


def byte_order(data):
    year = struct.unpack(">H", data[20:22])[0]
    return ">" if 1900 <= year <= 2100 else "<"


def start_time(data):
    year, day, hour, minute, second, _, fraction = struct.unpack(byte_order(data) + "HHBBBBH", data[20:30])
    days = sum(366 if (y % 4 == 0 and y % 100 != 0) or y % 400 == 0 else 365 for y in range(1970, year))
    return ((days + day - 1) * 24 + hour) * 3600.0 + minute * 60 + second + fraction / 10000.0


def sample_span(data):
    count, factor, multiplier = struct.unpack(byte_order(data) + "Hhh", data[30:36])
    if factor == 0 or multiplier == 0:
        return 0.0
    rate = factor if factor > 0 else -1.0 / factor
    rate = rate * multiplier if multiplier > 0 else rate / -multiplier
    return count / rate


def record_length(data, at):
    """From blockette 1000; None when the record has none."""
    order = byte_order(data[at:at + 48])
    offset = struct.unpack(order + "H", data[at + 46:at + 48])[0]
    while 48 <= offset and at + offset + 7 <= len(data):
        kind, following = struct.unpack(order + "HH", data[at + offset:at + offset + 4])
        if kind == 1000:
            return 1 << data[at + offset + 6]
        if following <= offset:
            break
        offset = following
    return None


def read_records(paths):
    records = []
    for path in paths:
        with open(path, "rb") as file:
            data = file.read()
        at = 0
        while at + 48 <= len(data):
            length = record_length(data, at) or 512
            records.append(Record(data[at:at + length], len(records)))
            at += length
    first = min((r.end for r in records), default=0.0)
    records.sort(key=lambda r: (r.end, r.order))
    return records, first


class Request:
    def __init__(self, network, station):
        self.network, self.station = network, station
        self.selectors = []
        self.first = None

    def takes(self, record, version):
        if not (fnmatch.fnmatchcase(record.network, self.network)
                and fnmatch.fnmatchcase(record.station, self.station)):
            return False
        if self.first is not None and not at_or_after(record.sequence, self.first, version):
            return False
        return not self.selectors or any(selected(s, record, version) for s in self.selectors)


def at_or_after(sequence, first, version):
    """Version 3 numbers have 24 bits and wrap around."""
    if version == 4:
        return sequence >= first
    return (sequence - first) & 0xFFFFFF < 0x800000


def selected(selector, record, version):
    selector = selector.split(".")[0]
    if version == 4:
        c = record.channel.ljust(3)
        return fnmatch.fnmatchcase(f"{record.location}_{c[0]}_{c[1]}_{c[2]}", selector)
    if len(selector) == 3:
        return fnmatch.fnmatchcase(record.channel, selector)
    return fnmatch.fnmatchcase(record.location.ljust(2) + record.channel, selector)


class Server:
    def __init__(self, options, records, first_end):
        self.options = options
        self.records = records
        self.first_end = first_end
        self.drops_left = options.drops
        self.started = None
        self.version_3_records = all(len(r.data) == 512 for r in records)
        following = {}
        for record in records:
            key = record.station_id(".")
            record.sequence = following.get(key, options.first_sequence)
            following[key] = record.sequence + 1

    def hello(self):
        offered = "SLPROTO:4.0 SLPROTO:3.1" if self.options.version == 4 else "SLPROTO:3.1 CAP EXTREPLY NSWILDCARD"
        return f"SeedLink v{self.options.version}.{0 if self.options.version == 4 else 1} (onset test server) :: {offered}"

    def known(self, request):
        return any(fnmatch.fnmatchcase(r.network, request.network) and fnmatch.fnmatchcase(r.station, request.station)
                   for r in self.records)

    async def release(self, record):
        if self.options.speed > 0:
            due = self.started + (record.end - self.first_end) / self.options.speed
            delay = due - asyncio.get_running_loop().time()
            if delay > 0:
                await asyncio.sleep(delay)

    def packet(self, record, version):
        if version == 4:
            station = record.station_id("_").encode()
            return (b"SE2D" + struct.pack("<IQB", len(record.data), record.sequence, len(station)) + station
                    + record.data)
        return b"SL%06X" % (record.sequence & 0xFFFFFF) + record.data

    def info(self, version):
        if version == 4:
            text = b'{"software": "onset test server"}'
            return b"SEJI" + struct.pack("<IQB", len(text), 0, 0) + text
        return b"SLINFO  " + b'<?xml version="1.0"?><seedlink software="onset test server"/>'.ljust(512)

    async def session(self, reader, writer):
        version, requests, current = 3, [], None
        try:
            while True:
                line = (await reader.readline()).decode("ascii", "replace").strip()
                if not line and reader.at_eof():
                    return
                words = line.split()
                verb = words[0].upper() if words else ""
                answer = "OK"
                if verb == "HELLO":
                    answer = self.hello() + "\r\nonset tests"
                elif verb == "SLPROTO":
                    if self.options.version == 4 and words[1:] == ["4.0"]:
                        version = 4
                    else:
                        answer = "ERROR UNSUPPORTED protocol version"
                elif verb == "STATION" and version == 3 and not self.version_3_records:
                    answer = "ERROR UNSUPPORTED records other than 512 bytes need SeedLink 4"
                elif verb == "STATION" and len(words) == (2 if version == 4 else 3):
                    network, station = words[1].split("_", 1) if version == 4 else (words[2], words[1])
                    current = Request(network, station)
                    if not self.known(current):
                        answer, current = "ERROR ARGUMENTS no such station", None
                elif verb == "SELECT" and current and len(words) == 2:
                    current.selectors.append(words[1])
                elif verb == "DATA" and current and len(words) <= 2:
                    if len(words) == 2:
                        current.first = int(words[1], 10 if version == 4 else 16)
                    requests.append(current)
                    current = None
                elif verb == "INFO":
                    writer.write(self.info(version))
                    continue
                elif verb == "END" and requests:
                    await self.stream(reader, writer, requests, version)
                    return
                else:
                    answer = "ERROR UNSUPPORTED " + line
                writer.write(answer.encode() + b"\r\n")
                await writer.drain()
        except (ConnectionError, asyncio.IncompleteReadError):
            pass
        finally:
            writer.close()

    async def stream(self, reader, writer, requests, version):
        async def answer_keepalives():
            while line := await reader.readline():
                if line.split()[:1] == [b"INFO"]:
                    writer.write(self.info(version))
        listener = asyncio.create_task(answer_keepalives())
        try:
            sent = 0
            for record in self.records:
                if not any(r.takes(record, version) for r in requests):
                    continue
                await self.release(record)
                packet = self.packet(record, version)
                if sent == self.options.drop_after and self.drops_left > 0:
                    self.drops_left -= 1
                    writer.write(packet[:len(packet) // 2])
                    await writer.drain()
                    writer.transport.abort()
                    return
                writer.write(packet)
                await writer.drain()
                sent += 1
            await listener  # live: nothing more to send until the client leaves
        finally:
            listener.cancel()


async def stdin_closed():
    if not stat.S_ISFIFO(os.fstat(0).st_mode):
        await asyncio.Event().wait()  # not a pipe from a parent: the lifetime alone ends it
    loop = asyncio.get_running_loop()
    reader = asyncio.StreamReader()
    await loop.connect_read_pipe(lambda: asyncio.StreamReaderProtocol(reader), sys.stdin)
    await reader.read()


async def main(options):
    records, first_end = read_records(options.files)
    if options.version == 3 and any(len(r.data) != 512 for r in records):
        sys.exit("SeedLink 3 carries 512-byte records only: write them so, or offer --version 4")
    server = Server(options, records, first_end)
    listening = await asyncio.start_server(server.session, HOST, options.port)
    server.started = asyncio.get_running_loop().time()
    print(listening.sockets[0].getsockname()[1], flush=True)
    async with listening:
        ending = [asyncio.create_task(asyncio.sleep(options.lifetime)), asyncio.create_task(stdin_closed())]
        await asyncio.wait(ending, return_when=asyncio.FIRST_COMPLETED)
        for task in ending:
            task.cancel()


if __name__ == "__main__":
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("files", nargs="+")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--version", type=int, choices=(3, 4), default=3, help="the highest version offered")
    parser.add_argument("--speed", type=float, default=0.0, help="times real time; 0: as fast as possible")
    parser.add_argument("--first-sequence", type=int, default=1)
    parser.add_argument("--drop-after", type=int, default=0, help="records per connection before a drop")
    parser.add_argument("--drops", type=int, default=0, help="connections to drop")
    parser.add_argument("--lifetime", type=float, default=60.0, help="seconds")
    asyncio.run(main(parser.parse_args()))
