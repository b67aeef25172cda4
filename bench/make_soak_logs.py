#!/usr/bin/env python3
"""Writes the files of a lab soak as rwstation leaves them: per reader an
event log NAME.log and the result file NAME.txt its start events name.

Usage: make_soak_logs.py FOLDER [--hours H] [--readers N] [--per-second R]
                         [--seed S]

Every reader polls in runs of 100 attempts, R attempts a second (69 is what
the tools reach; fewer keep the runs and bins of a soak of H hours with
fewer attempts), kestrow and brimlet in turn, each with a failure rate of
its own. What happens to readers in a lab happens to some of them:
  - unit2's cable is pulled three times: its port fails in the middle of a
    run, the reconnection fails, the tool ends and the station starts it
    again until the R/W is back;
  - unit3's card-finding rate falls over the soak;
  - unit4 has one run that fails far more than the others;
  - unit5's R/W goes away in the last hour and does not come back;
  - every reader's last run is cut short when the soak ends.
Failed attempts carry their frames, as the tools log them by default.
"""
import argparse
import os
import random
import time

SOAK_START = 1796666400  # 2026-12-07T18:00:00Z
FRAME = "00 00 FF 05 FB D4 4A 01 00 E1 00"


class Reader:
    """One reader's log and result file, written as its tool would."""

    def __init__(self, folder, name, tool, rng):
        self.name, self.tool, self.rng = name, tool, rng
        self.log = open(os.path.join(folder, name + ".log"), "w")
        self.results = open(os.path.join(folder, name + ".txt"), "w")
        self.t = rng.randint(10**9, 10**10)  # the monotonic clock's origin is arbitrary
        self.run = 0

    def event(self, kind, fields):
        self.log.write('{"v":2,"t":%d,"ev":"%s"%s}\n' % (self.t, kind, "," + fields if fields else ""))

    def start(self, wall):
        self.wall0, self.t0 = wall, self.t
        self.run = 0
        self.event("start",
                   '"tool":"%s","title":"%s polling test","version":"1.1.0","wall":"%s",'
                   '"port":"/dev/serial/by-id/usb-lab-%s","search":false,"baud":115200,'
                   '"ka_kcv":"570A39","kb_kcv":"66C4B6","ack_ms":50,"response_ms":50,"des":%s,'
                   '"attempts_per_run":100,"repeat":true,"result_file":"%s.txt","tag":-1,'
                   '"failure_limit":-1,"comma_terminated":false,"frames":"failures"'
                   % (self.tool, self.tool, time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(wall)),
                      self.name, "true" if self.tool == "kestrow" else "false", self.name))

    def wall(self):
        return self.wall0 + (self.t - self.t0) / 1e6

    def connect(self, ok):
        self.t += 3000
        self.event("open", '"device":"/dev/ttyUSB%d","baud":115200,"ok":%s'
                   % (int(self.name[4:]), "true" if ok else 'false,"error":"No such file or directory"'))
        if not ok:
            return False
        self.t += 20000
        self.event("connect", '"device":"/dev/ttyUSB%d","baud":115200,"des":%s,"ok":true,'
                   '"result":0,"failure":"none"'
                   % (int(self.name[4:]), "true" if self.tool == "kestrow" else "false"))
        return True

    def attempt(self, n, failure, gap_us):
        """One attempt; failure None for a card."""
        if failure is None:
            us, result, mark, name = int(self.rng.gauss(10400, 300)), 0, "o", "none"
        elif failure == "port error":
            us, result, mark, name = 1000, 3, "X", failure
        else:
            us, result, mark, name = self.rng.randint(110000, 160000), 3, "X", failure
            self.event("tx", '"frame":"%s","written":true' % FRAME)
        self.t += us
        if failure == "no ACK":
            self.event("rx", '"frame":"","result":2')
        self.event("attempt", '"run":%d,"n":%d,"result":%d,"mark":"%s","us":%d,"failure":"%s"'
                   % (self.run, n, result, mark, us, name))
        self.t += gap_us

    def record(self, successes, attempts):
        rate = 100.0 * successes / attempts
        text = "%6.2f%%,%4d,%4d\n" % (rate, successes, attempts)
        self.results.write(text)
        self.event("run", '"run":%d,"successes":%d,"attempts":%d,"rate":%.2f,"tag":-1,"record":"%s"'
                   % (self.run, successes, attempts, rate, text.replace("\n", "\\n")))

    def close(self):
        self.log.close()
        self.results.close()


def soak(reader, hours, per_second, fail_rate, events):
    """Runs of 100 attempts until the soak's end; `events` maps a run number
    to what happens in it: ("pull", attempts) a cable pulled after that many
    attempts and put back some minutes later, ("outlier",) a run that fails
    half its attempts, ("gone",) the R/W going away for good."""
    end = SOAK_START + hours * 3600
    gap = int(1e6 / per_second) - 10400
    reader.start(SOAK_START)
    reader.connect(True)
    number = 0
    while True:
        number += 1
        reader.run += 1
        happening = events.get(number, ())
        successes = attempts = 0
        for n in range(1, 101):
            if reader.wall() >= end:
                break
            attempts += 1
            if happening and happening[0] in ("pull", "gone") and n > happening[1]:
                reader.attempt(n, "port error", gap)
                continue
            rate = fail_rate(reader.wall() - SOAK_START)
            if happening and happening[0] == "outlier":
                rate = 0.5
            failed = reader.rng.random() < rate
            reader.attempt(n, "no ACK" if failed else None, gap)
            successes += not failed
        if attempts:
            reader.record(successes, attempts)
        if reader.wall() >= end:
            reader.event("stop", '"reason":"signal"')
            return
        if happening and happening[0] in ("pull", "gone"):
            # The reconnection fails and the tool ends; the station starts
            # it again every 30 s until the R/W is back (or the soak ends).
            reader.connect(False)
            reader.event("reconnect", '"run":%d,"ok":false' % (reader.run + 1))
            reader.event("stop", '"reason":"reconnection failed"')
            back = reader.wall() + (10**9 if happening[0] == "gone" else happening[2])
            while True:
                reader.t += 30 * 10**6
                if reader.wall() >= end:
                    return
                reader.start(int(reader.wall()))
                if reader.connect(reader.wall() >= back):
                    break
                reader.event("stop", '"reason":"no session"')
            continue
        reader.t += 20000
        reader.connect(True)
        reader.event("reconnect", '"run":%d,"ok":true' % (reader.run + 1))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("folder")
    parser.add_argument("--hours", type=float, default=12)
    parser.add_argument("--readers", type=int, default=8)
    parser.add_argument("--per-second", type=float, default=69)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    runs = int(args.hours * 3600 * args.per_second / 100)
    for index in range(1, args.readers + 1):
        rng = random.Random(args.seed * 1000 + index)
        reader = Reader(args.folder, "unit%d" % index, "kestrow" if index % 2 else "brimlet", rng)
        base = 0.002 * index
        fail_rate = lambda s, base=base: base
        events = {}
        if index == 2:
            for share in (0.2, 0.5, 0.8):
                events[int(runs * share)] = ("pull", 40, 300)
        if index == 3:
            fail_rate = lambda s, hours=args.hours: 0.002 + 0.02 * s / (hours * 3600)
        if index == 4:
            events[runs // 3] = ("outlier",)
        if index == 5:
            events[int(runs * (args.hours - 1) / args.hours)] = ("gone", 60)
        soak(reader, args.hours, args.per_second, fail_rate, events)
        reader.close()


if __name__ == "__main__":
    main()
