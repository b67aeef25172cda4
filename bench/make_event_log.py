#!/usr/bin/env python3
"""Writes a realistic event log of about SIZE bytes for rwreport's bench.

Usage: make_event_log.py SIZE_MB PATH [SEED]

The log holds soak sessions of both tools, one after the other as a soak
script would start them, each with its own tag: a start, the port open and
connection frames, then runs of 100 attempts (about 14.5 ms apart, a few
failing with their frames, as the tools log them by default), each run's
figures, the reconnection between runs, and a stop. The failure rate
drifts slowly so that the series has a trend to find.
"""
import random
import sys
import time


def session(out, rnd, tool, tag, wall, t, runs, fail_base):
    out.append(
        '{"v":2,"t":%d,"ev":"start","tool":"%s","title":"%s polling test","version":"1.1.0",'
        '"wall":"%s","port":"/dev/ttyUSB0","search":false,"baud":115200,"ka_kcv":"8CA64D",'
        '"kb_kcv":"1F2E3D","ack_ms":50,"response_ms":50,"des":%s,"attempts_per_run":100,'
        '"repeat":true,"result_file":"results.csv","tag":%d,"failure_limit":-1,'
        '"comma_terminated":false,"frames":"failures"}\n'
        % (t, tool, tool, wall, "true" if tool == "kestrow" else "false", tag))
    t += 2000
    out.append('{"v":2,"t":%d,"ev":"open","device":"/dev/ttyUSB0","baud":115200,"ok":true}\n' % t)
    frame = "00 00 FF 05 FB D4 4A 01 00 E1 00"
    for _ in range(2):
        t += 3000
        out.append('{"v":2,"t":%d,"ev":"tx","frame":"%s","written":true}\n' % (t, frame))
        t += 3000
        out.append('{"v":2,"t":%d,"ev":"rx","frame":"00 00 FF 00 FF 00","result":1}\n' % t)
    t += 1000
    out.append('{"v":2,"t":%d,"ev":"connect","device":"/dev/ttyUSB0","baud":115200,'
               '"des":true,"ok":true,"result":0,"failure":"none"}\n' % t)
    for run in range(1, runs + 1):
        successes = 0
        fail = fail_base + 0.02 * run / runs
        for n in range(1, 101):
            roll = rnd.random()
            if roll < fail:
                us = rnd.randint(110000, 160000)
                out.append('{"v":2,"t":%d,"ev":"tx","frame":"%s","written":true}\n' % (t, frame))
                out.append('{"v":2,"t":%d,"ev":"rx","frame":"","result":2}\n' % (t + us))
                out.append('{"v":2,"t":%d,"ev":"attempt","run":%d,"n":%d,"result":3,"mark":"X",'
                           '"us":%d,"failure":"no ACK"}\n' % (t + us, run, n, us))
            elif roll < fail + 0.01:
                us = rnd.randint(10000, 14000)
                out.append('{"v":2,"t":%d,"ev":"attempt","run":%d,"n":%d,"result":2,"mark":".",'
                           '"us":%d,"failure":"no card"}\n' % (t + us, run, n, us))
            else:
                us = int(rnd.gauss(10400, 300))
                successes += 1
                out.append('{"v":2,"t":%d,"ev":"attempt","run":%d,"n":%d,"result":0,"mark":"o",'
                           '"us":%d,"failure":"none"}\n' % (t + us, run, n, us))
            t += us + 4000
        rate = successes * 100 / 100
        record = "%7.2f%%,%4d,%4d,%4d,\n" % (rate, successes, 100, tag)
        out.append('{"v":2,"t":%d,"ev":"run","run":%d,"successes":%d,"attempts":100,'
                   '"rate":%.2f,"tag":%d,"record":"%s"}\n'
                   % (t, run, successes, rate, tag, record.replace("\n", "\\n")))
        t += 25000
        out.append('{"v":2,"t":%d,"ev":"reconnect","run":%d,"ok":true}\n' % (t, run + 1))
    out.append('{"v":2,"t":%d,"ev":"stop","reason":"key"}\n' % t)
    out.append('{"v":2,"t":%d,"ev":"close","result":0}\n' % (t + 5000))
    return t


def main():
    size = int(float(sys.argv[1]) * 1000 * 1000)
    path = sys.argv[2]
    rnd = random.Random(int(sys.argv[3]) if len(sys.argv) > 3 else 1)
    written = 0
    t = 1000000
    start = 1796625600  # 2026-12-07T06:40:00Z
    tags = [(("kestrow", 1), 0.01), (("brimlet", 2), 0.02), (("kestrow", 3), 0.005),
            (("brimlet", 4), 0.03)]
    index = 0
    elapsed = 0
    with open(path, "w") as f:
        while written < size:
            (tool, tag), base = tags[index % len(tags)]
            wall = start + elapsed
            text = time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(wall))
            out = []
            t_end = session(out, rnd, tool, tag, text, t, 200, base)
            chunk = "".join(out)
            f.write(chunk)
            written += len(chunk)
            elapsed += (t_end - t) // 1000000 + 5
            t = t_end + 5000000
            index += 1


if __name__ == "__main__":
    main()
