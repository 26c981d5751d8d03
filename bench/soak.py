#!/usr/bin/python3
"""Soak and kill test: gsmsd against gsms-modem-sim while the modem misbehaves at random and the
gateway is killed at random moments, restarted each time as systemd would.

The alarm server is played here: it drops job files (most written aside and renamed into
place, some written in place in two pieces), each with a row of its own in one of four status
tables and a phone number of its own, some of which the network refuses for good. Meanwhile
the simulated modem goes silent, sends garbage, puts unsolicited lines behind the prompt,
loses the signal, answers slowly or late, refuses single submissions, and receives SMS (some
of them long messages in parts), which the gateway hands to a command that writes them down.
The gateway is restarted like systemd's Restart=on-failure (RestartSec 5 s, not after exit
code 6) and killed with SIGKILL at random moments.

At the end the faults stop, the gateway gets time to finish and is stopped, and every outcome
is checked with readers independent of the gateway (dbfread for the tables, configparser for
TEVRAK.INI, the simulator's own record of what it sent):

  - every job ended exactly once, in done or in error, with its file whole (the success line
    added to a sent one); none lost, none left half moved, no temporary left behind;
  - no job was sent twice, but for a submission the modem held when a kill came: the job's
    submission was the last one the gateway began before the kill and its file was still in
    the watch folder (the gateway could not have known the outcome);
  - each job's status row says where its file ended (8 sent, 3 failed); every other byte of
    the tables as the alarm server wrote it; TEVRAK.INI whole;
  - every received SMS handed to the command (one handed over twice is counted, not a fault:
    a kill between the start of its command and its deletion from the SIM repeats it);
  - the gateway's exits by cause, its resident memory and open descriptors at the start and
    the end of its longest run.

The figures go to standard output; the exit code is 1 when a target is missed. Every random
choice (jobs, faults, kill moments) comes from --seed; the gateway's own timing varies.

  soak.py [--bin DIR] [--jobs N] [--incoming N] [--kills N] [--span SECONDS] [--seed S]
          [--time-scale N] [--dir DIR] [--keep]
  soak.py --short       CI's version: 50 jobs, 6 received SMS, 5 kills over 60 s, time scale 10
"""
import argparse
import configparser
import json
import os
import random
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

import dbfread

TABLES = 4
RETRY_COUNT = 3
KILLED = 'killed by the soak (SIGKILL)'


def log(*args):
    print(*args, flush=True)


def utc_seconds(stamp):
    """The simulator's UTC time stamps (2024-05-17T10:11:12.345Z) as seconds since 1970."""
    import calendar
    main, ms = stamp.rstrip('Z').split('.')
    return calendar.timegm(time.strptime(main, '%Y-%m-%dT%H:%M:%S')) + int(ms) / 1000.0


def json_lines(path):
    out = []
    if not os.path.exists(path):
        return out
    with open(path, encoding='utf-8', errors='replace') as f:
        for line in f:
            line = line.strip()
            if line:
                try:
                    out.append(json.loads(line))
                except ValueError:
                    pass  # a line cut by the end of the simulator
    return out


def proc_figures(pid):
    """Resident memory in kB and open descriptors of a process, or None once it is gone."""
    try:
        with open('/proc/%d/status' % pid) as f:
            rss = next(int(l.split()[1]) for l in f if l.startswith('VmRSS:'))
        return rss, len(os.listdir('/proc/%d/fd' % pid))
    except (OSError, StopIteration):
        return None


class Simulator:
    def __init__(self, binary, workdir):
        self.dir = workdir
        self.link = os.path.join(workdir, 'ttyGSM0')
        self.socket = os.path.join(workdir, 'sim.ctl')
        self.proc = subprocess.Popen(
            [binary, '--link', self.link, '--control', self.socket,
             '--record', os.path.join(workdir, 'sim-record.jsonl'),
             '--trace', os.path.join(workdir, 'sim-trace.jsonl')],
            cwd=workdir, stdout=subprocess.DEVNULL, stderr=open(os.path.join(workdir, 'sim-output.txt'), 'w'))
        deadline = time.time() + 30
        while not (os.path.exists(self.link) and os.path.exists(self.socket)):
            if time.time() > deadline or self.proc.poll() is not None:
                raise SystemExit('gsms-modem-sim did not start')
            time.sleep(0.05)
        self.lock = threading.Lock()

    def control(self, line):
        with self.lock:
            s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            s.connect(self.socket)
            s.sendall((line + '\n').encode('latin-1'))
            answer = b''
            while not answer.endswith(b'\n'):
                chunk = s.recv(256)
                if not chunk:
                    break
                answer += chunk
            s.close()
            return answer.decode('latin-1').strip()

    def stop(self):
        self.proc.terminate()
        self.proc.wait(30)


class Gateway:
    """gsmsd under a supervisor that restarts it like systemd's Restart=on-failure."""

    def __init__(self, binary, workdir, scale, restart_s):
        self.binary, self.dir, self.scale, self.restart_s = binary, workdir, scale, restart_s
        self.proc = None
        self.runs = []          # per run: start time, end time, cause, figures
        self.killing = False    # the soak is killing the current run
        self.stopping = False
        self.lock = threading.Lock()
        self.thread = threading.Thread(target=self.supervise, daemon=True)
        self.thread.start()

    def start(self):
        env = dict(os.environ, GSMS_TIME_SCALE=str(self.scale))
        out = open(os.path.join(self.dir, 'output.txt'), 'ab')
        self.proc = subprocess.Popen([self.binary, '--profile-dir', self.dir], cwd=self.dir,
                                     stdout=out, stderr=subprocess.STDOUT, env=env)
        out.close()
        self.runs.append({'start': time.time(), 'pid': self.proc.pid, 'first': None,
                          'last': None, 'peak': (0, 0), 'cause': None,
                          'log_at': len(self.daily_log())})

    def supervise(self):
        with self.lock:
            self.start()
        while True:
            proc = self.proc
            while proc.poll() is None:
                figures = proc_figures(proc.pid)
                run = self.runs[-1]
                if figures:
                    if run['first'] is None and self.up(run):
                        run['first'] = figures
                    if run['first'] is not None:
                        run['last'] = figures
                        run['peak'] = (max(run['peak'][0], figures[0]), max(run['peak'][1], figures[1]))
                time.sleep(0.2)
            with self.lock:
                run = self.runs[-1]
                run['end'] = time.time()
                code = proc.returncode
                if self.killing and code == -signal.SIGKILL:
                    run['cause'] = KILLED
                elif self.stopping and code == 0:
                    run['cause'] = 'stopped at the end (SIGTERM, exit 0)'
                elif code < 0:
                    run['cause'] = 'died of signal %d' % -code
                else:
                    run['cause'] = 'exit %d: %s' % (code, self.last_words(run))
                self.killing = False
                if self.stopping or code == 6:
                    return
            # systemd's RestartSec, in the gateway's time.
            time.sleep(self.restart_s / self.scale)
            with self.lock:
                if self.stopping:
                    return
                self.start()

    def daily_log(self):
        text = ''
        folder = os.path.join(self.dir, 'log')
        if os.path.isdir(folder):
            for name in sorted(os.listdir(folder)):
                with open(os.path.join(folder, name), encoding='latin-1') as f:
                    text += f.read()
        return text

    def up(self, run):
        # "SignalThread started" ends a start; a run is measured from there.
        return 'SignalThread started' in self.daily_log()[run['log_at']:]

    def last_words(self, run):
        for line in reversed(self.daily_log()[run['log_at']:].splitlines()[-40:]):
            for known in ('Signal lost, exiting for reinit', '** init_gsms **', 'SIM locked',
                          'PIN refused'):
                if known in line:
                    return line[9:]
        return 'no reason in the daily log'

    def kill(self):
        """SIGKILL now; the supervisor restarts it. The run it was sent to, or None when no
        run was there to kill."""
        with self.lock:
            if self.proc is None or self.proc.poll() is not None:
                return None
            self.killing = True
            self.proc.kill()
            return self.runs[-1]

    def stop(self):
        with self.lock:
            self.stopping = True
            proc = self.proc
        if proc.poll() is None:
            proc.terminate()
        self.thread.join(120)


class Soak:
    def __init__(self, args):
        self.args = args
        self.rng = random.Random(args.seed)
        self.scale = args.time_scale
        self.dir = args.dir or tempfile.mkdtemp(prefix='gsms-soak-')
        for d in ('in', 'done', 'error', 'tables'):
            os.makedirs(os.path.join(self.dir, d), exist_ok=True)
        self.jobs = []         # dicts: id, name, number, bytes, table, row, refused
        self.received = []     # dicts: id, sender, text (what the command must get)
        self.kills = []        # dicts: time, files in the watch folder, last at+cmgs before
        self.faults = {}       # fault -> times switched on
        self.done_dropping = threading.Event()

    # --- set-up -------------------------------------------------------------------------
    def gateway_time(self, seconds):
        """Seconds of gateway time as real seconds."""
        return seconds / self.scale

    def prepare(self):
        rows = self.args.jobs // TABLES + 2
        for t in range(TABLES):
            path = os.path.join(self.dir, 'tables', 'plant%d.dbf' % t)
            subprocess.run([os.path.join(self.args.bin, 'gsms-sample-table'), path, str(rows)],
                           check=True)
        self.tables_before = {t: self.read_table(t) for t in range(TABLES)}
        with open(os.path.join(self.dir, 'incoming.sh'), 'w') as f:
            # One line, written at once: up to 16 of these run at the same time.
            f.write('#!/bin/sh\n# $1: the sender, $2: the text\n'
                    'line=$(printf "%s\\t%s" "$1" "$2" | tr "\\r\\n" "  ")\n'
                    'printf "%s\\n" "$line" >> "$(dirname "$0")/received.txt"\n')
        os.chmod(os.path.join(self.dir, 'incoming.sh'), 0o755)
        with open(os.path.join(self.dir, 'plasto.cmd'), 'w') as f:
            f.write('#!/bin/sh\necho "$1" >> "$(dirname "$0")/tech-alarm.txt"\n')
        os.chmod(os.path.join(self.dir, 'plasto.cmd'), 0o755)
        self.config = {
            'Port': os.path.join(self.dir, 'ttyGSM0'),
            'WatchPath': os.path.join(self.dir, 'in'),
            'DonePath': os.path.join(self.dir, 'done'),
            'ErrorPath': os.path.join(self.dir, 'error'),
            'WatchLogPath': os.path.join(self.dir, 'tables'),
            'RetryCount': str(RETRY_COUNT),
            'RetryDelay': '1',
            'IncomingEnable': '1',
            'SleepMinAfterAlarm': '0',
            'CmdLineFormat': os.path.join(self.dir, 'incoming.sh') + ' "%s" "%s"',
        }
        with open(os.path.join(self.dir, 'TEVRAK.INI'), 'w') as f:
            f.write('[Config]\r\n' + ''.join('%s=%s\r\n' % kv for kv in self.config.items()))
        for i in range(self.args.jobs):
            mini = self.rng.random() < 0.15
            job = {'id': i, 'name': 'j%04d.sms' % i, 'number': '+4917%07d' % i,
                   'table': None if mini else i % TABLES, 'row': None if mini else i // TABLES + 1,
                   'refused': self.rng.random() < 0.08}
            filler = ''.join(self.rng.choice('abcdefghijklmnopqrstuvwxyz ÄÖÜäöüß0123456789.,-')
                             for _ in range(self.rng.randint(0, 120)))
            text = '[Alarm]\r\n'
            if not mini:
                text += 'Szenario=plant%d\r\ndbentry=%d\r\nAlarmKey=A%d\r\n' % (job['table'], job['row'] - 1, i % 100)
            text += 'PhoneNumber=%s\r\nName=Soak %d\r\nMessage=soak %04d %s\r\n' % (job['number'], i, i, filler)
            job['bytes'] = text.encode('latin-1')
            self.jobs.append(job)

    def read_table(self, t):
        path = os.path.join(self.dir, 'tables', 'plant%d.dbf' % t)
        table = dbfread.DBF(path, load=True)
        return {'count': table.header.numrecords, 'records': [dict(r) for r in table.records],
                'deleted': len(table.deleted)}

    # --- the alarm server ---------------------------------------------------------------
    def drop(self, job):
        path = os.path.join(self.dir, 'in', job['name'])
        if self.rng.random() < 0.1:
            # Written in place, in two pieces, as a careless alarm server does.
            cut = self.rng.randint(1, len(job['bytes']) - 1)
            with open(path, 'wb') as f:
                f.write(job['bytes'][:cut])
                f.flush()
                time.sleep(self.gateway_time(self.rng.uniform(0.05, 1.5)))
                f.write(job['bytes'][cut:])
        else:
            aside = os.path.join(self.dir, 'in', job['name'] + '.part')
            with open(aside, 'wb') as f:
                f.write(job['bytes'])
            os.rename(aside, path)

    def feed(self, span):
        """The jobs at random moments over `span` real seconds: now one alone, now a burst."""
        times = sorted(self.rng.uniform(0, span) for _ in self.jobs)
        start = time.time()
        for job, at in zip(self.jobs, times):
            time.sleep(max(0, start + at - time.time()))
            if job['refused']:
                self.sim.control('refuse %s 500' % job['number'])
            self.drop(job)
        self.done_dropping.set()

    def receive(self, duration):
        """Received SMS at random moments over `duration` real seconds; one in five long."""
        times = sorted(self.rng.uniform(0, duration) for _ in range(self.args.incoming))
        start = time.time()
        for n, at in enumerate(times):
            time.sleep(max(0, start + at - time.time()))
            sender = '+4916%06d' % n
            words = ' '.join(self.rng.choice(['OK', 'ERROR', 'pump', '"quoted"', '& del *',
                                              '%s', 'a@b.c', 'Füllstand', '+CMGL: 1,"REC READ"'])
                             for _ in range(self.rng.randint(1, 6)))
            if n % 5 == 4:
                parts = ['sms %03d part one %s' % (n, words), ' part two']
                for seq, part in enumerate(parts, 1):
                    self.store('incoming-part %s %d 2 %d %s' % (sender, 100 + n, seq, part))
                text = ''.join(parts)
            else:
                text = 'sms %03d %s' % (n, words)
                self.store('incoming %s %s' % (sender, text))
            self.received.append({'id': n, 'sender': sender, 'text': text})

    def store(self, control):
        # The SIM holds 30 messages; while the gateway is down they wait for room.
        for _ in range(600):
            if self.sim.control(control) == 'ok':
                return
            time.sleep(0.1)
        raise SystemExit('the simulated SIM stayed full: ' + control)

    # --- the misbehaving modem ----------------------------------------------------------
    def spell(self, on, off, seconds):
        """Switches a fault on for `seconds` of gateway time."""
        name = on.split()[0] if not on.startswith('send-fail') else on
        self.faults[name] = self.faults.get(name, 0) + 1
        self.sim.control(on)
        time.sleep(self.gateway_time(seconds))
        if off:
            self.sim.control(off)

    def misbehave(self):
        r = self.rng
        while not self.done_dropping.is_set():
            time.sleep(self.gateway_time(r.uniform(2, 12)))
            kind = r.choice(['silent', 'long-silent', 'garbage', 'after-prompt', 'signal',
                             'lost-network', 'slow', 'late-prompt', 'refuse-one', 'error-one',
                             'no-prompt'])
            if kind == 'silent':
                self.spell('silent on', 'silent off', r.uniform(0.5, 8))
            elif kind == 'long-silent':
                # Long enough for the signal supervision to give up: exit code 1, a restart.
                self.spell('silent on', 'silent off', r.uniform(25, 40))
            elif kind == 'garbage':
                noise = bytes(r.choice(b'\r\n\x00\x1a\x1bOKERROR> +CMGS:0123456789\xff\x80')
                              for _ in range(r.randint(1, 40)))
                self.faults['garbage'] = self.faults.get('garbage', 0) + 1
                self.sim.control('garbage ' + noise.hex())
            elif kind == 'after-prompt':
                self.spell('after-prompt ' + r.choice(['RING', '+CMTI: "SM",3', '+CREG: 1']),
                           'after-prompt off', r.uniform(2, 20))
            elif kind == 'signal':
                self.spell('csq ' + r.choice(['0', '99']), 'csq 15', r.uniform(2, 15))
            elif kind == 'lost-network':
                # No signal and no registration: the gateway gives up and is restarted.
                self.sim.control('cops fail on')
                self.spell('csq 0', 'csq 15', r.uniform(20, 35))
                self.sim.control('cops fail off')
            elif kind == 'slow':
                # Up to 45 s: past the 30 s a submission waits, within the late answer's 30 s.
                self.spell('send-delay %d' % (r.uniform(1000, 45000) / self.scale), 'send-delay 0',
                           r.uniform(5, 30))
            elif kind == 'late-prompt':
                self.spell('prompt-delay %d %d' % (r.uniform(200, 8000) / self.scale, r.randint(1, 3)),
                           None, 0)
            elif kind == 'refuse-one':
                self.spell('send-fail cms %d 1' % r.choice([500, 38, 331]), None, 0)
            elif kind == 'error-one':
                self.spell('send-fail error 1', None, 0)
            elif kind == 'no-prompt':
                self.spell('no-prompt 1', None, 0)

    def calm(self):
        for line in ('silent off', 'csq 15', 'cops fail off', 'send-delay 0', 'prompt-delay off',
                     'after-prompt off', 'send-fail off', 'no-prompt off'):
            self.sim.control(line)

    # --- kills --------------------------------------------------------------------------
    def last_submission_begun(self):
        last = None
        for c in json_lines(os.path.join(self.dir, 'sim-trace.jsonl')):
            if c.get('command', '').lower().startswith('at+cmgs='):
                last = c['command'][9:-1]
        return last

    def killer(self, duration):
        times = sorted(self.rng.uniform(duration * 0.05, duration) for _ in range(self.args.kills))
        start = time.time()
        for at in times:
            time.sleep(max(0, start + at - time.time()))
            # Mostly a run that has come up far enough to be worth killing, now and then one
            # right in its start; between runs, the next one.
            settled = self.rng.random() < 0.8
            deadline = time.time() + 120
            while time.time() < deadline:
                run = self.gateway.runs[-1]
                if run.get('end') is None and (run['first'] is not None or not settled):
                    waiting = set(os.listdir(os.path.join(self.dir, 'in')))
                    last = self.last_submission_begun()
                    moment = time.time()
                    killed = self.gateway.kill()
                    # A kill counts once it ended the run: one sent as the run was ending by
                    # itself does not.
                    while killed is not None and killed['cause'] is None:
                        time.sleep(0.02)
                    if killed is not None and killed['cause'] == KILLED:
                        self.kills.append({'time': moment, 'waiting': waiting, 'last': last})
                        break
                time.sleep(0.02)

    # --- the run ------------------------------------------------------------------------
    def run(self):
        log('soak: %d jobs, %d received SMS, %d kills, seed %d, time scale %g, in %s' % (
            self.args.jobs, self.args.incoming, self.args.kills, self.args.seed, self.scale, self.dir))
        self.prepare()
        self.sim = Simulator(os.path.join(self.args.bin, 'gsms-modem-sim'), self.dir)
        self.gateway = Gateway(os.path.join(self.args.bin, 'gsmsd'), self.dir, self.scale, 5)
        started = time.time()
        # Jobs, kills and received messages spread over the same span.
        span = self.args.span
        threads = [threading.Thread(target=self.feed, args=(span,)),
                   threading.Thread(target=self.misbehave),
                   threading.Thread(target=self.killer, args=(span,)),
                   threading.Thread(target=self.receive, args=(span,))]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        self.calm()
        log('soak: all jobs dropped after %.0f s; the modem behaves from now on' % (time.time() - started))
        # Time to finish: every job reported and every received SMS handed over.
        deadline = time.time() + max(120, self.gateway_time(600))
        while time.time() < deadline and not self.settled():
            time.sleep(0.5)
        self.gateway.stop()
        self.sim.stop()
        self.elapsed = time.time() - started
        return self.check()

    def settled(self):
        waiting = [n for n in os.listdir(os.path.join(self.dir, 'in')) if n.endswith('.sms')]
        handed = self.handed_over()
        return not waiting and all(handed.get(m['id'], 0) > 0 for m in self.received)

    def handed_over(self):
        counts = {}
        path = os.path.join(self.dir, 'received.txt')
        if os.path.exists(path):
            with open(path, encoding='latin-1') as f:
                for n in re.findall(r'\tsms (\d{3}) ', f.read()):
                    counts[int(n)] = counts.get(int(n), 0) + 1
        return counts

    # --- the verdict --------------------------------------------------------------------
    def check(self):
        d = self.dir
        listing = {f: os.listdir(os.path.join(d, f)) for f in ('in', 'done', 'error')}
        temporaries = [f + '/' + n for f in listing for n in listing[f] if '.gsms-' in n]
        temporaries += [n for n in os.listdir(d) if '.gsms-' in n]  # beside TEVRAK.INI
        records = json_lines(os.path.join(d, 'sim-record.jsonl'))
        accepted, refused = {}, {}
        for r in records:
            (accepted if r.get('ref') is not None else refused).setdefault(r['to'], []).append(
                utc_seconds(r['time']))
        tables = {t: self.read_table(t) for t in range(TABLES)}

        once, waiting, vanished, twice, held_twice = [], [], [], [], []
        disagreeing, broken, sent_but_failed, done_unsent = [], [], [], []
        for job in self.jobs:
            places = [(f, n) for f in ('in', 'done', 'error') for n in listing[f]
                      if n == job['name'] or n.endswith('-' + job['name'])]
            ended = [p for p in places if p[0] != 'in']
            if len(ended) == 1 and len(places) == 1:
                once.append(job)
            if not ended:
                (waiting if places else vanished).append(job)
                continue
            for folder, name in ended:
                with open(os.path.join(d, folder, name), 'rb') as f:
                    content = f.read()
                rest = content[len(job['bytes']):] if content.startswith(job['bytes']) else None
                whole = rest == b'' if folder == 'error' else (
                    rest is not None and re.fullmatch(rb'\d+\.\d+\.\d+ \d+:\d+ ALARM successfully sent\r?\n?', rest))
                if not whole:
                    broken.append('%s/%s' % (folder, name))
            folder = ended[0][0]
            sends = sorted(accepted.get(job['number'], []))
            if folder == 'error' and sends:
                sent_but_failed.append(job)
            if folder == 'done' and not sends:
                done_unsent.append(job)
            if len(sends) > 1:
                if all(self.held_at_a_kill(job, before, after) for before, after in zip(sends, sends[1:])):
                    held_twice.append(job)
                else:
                    twice.append(job)
            if job['table'] is not None:
                rows = tables[job['table']]['records']
                status = rows[job['row'] - 1]['STATUS'] if job['row'] <= len(rows) else None
                if status != (8 if folder == 'done' else 3):
                    disagreeing.append((job['name'], folder, status))
        touched = self.untouched_rows_changed(tables)
        ini = self.check_ini()
        handed = self.handed_over()
        sms_lost = [m['id'] for m in self.received if handed.get(m['id'], 0) == 0]
        sms_twice = [m['id'] for m in self.received if handed.get(m['id'], 0) > 1]

        runs = self.gateway.runs
        causes = {}
        for r in runs:
            causes[r['cause']] = causes.get(r['cause'], 0) + 1
        longest = max((r for r in runs if r['first']), key=lambda r: r['end'] - r['start'], default=None)
        first = next((r for r in runs if r['first']), None)

        log('')
        log('soak figures (seed %d, time scale %g, %.0f s)' % (self.args.seed, self.scale, self.elapsed))
        log('  jobs: %d dropped (%d refused by the network for good), %d ended exactly once in done or error'
            % (len(self.jobs), sum(j['refused'] for j in self.jobs), len(once)))
        log('        %d in done, %d in error' % (
            sum(1 for n in listing['done'] if n.endswith('.sms')), sum(1 for n in listing['error'] if n.endswith('.sms'))))
        lost = waiting + vanished
        log('  jobs lost: %d (%d still in the watch folder %s, %d gone %s)' % (
            len(lost), len(waiting), [j['name'] for j in waiting][:10], len(vanished),
            [j['name'] for j in vanished][:10]))
        log('  jobs submitted twice: %d %s; twice for a submission the modem held at a kill: %d %s' % (
            len(twice), [j['name'] for j in twice][:10], len(held_twice), [j['name'] for j in held_twice][:10]))
        log('  jobs in error that the modem sent (a try before a kill): %d %s; in done that it never sent: %d %s' % (
            len(sent_but_failed), [j['name'] for j in sent_but_failed][:10], len(done_unsent),
            [j['name'] for j in done_unsent][:10]))
        log('  status rows disagreeing with where the file ended: %d %s' % (len(disagreeing), disagreeing[:10]))
        log('  other rows or fields changed: %d %s' % (len(touched), touched[:5]))
        log('  job files not whole: %d %s; temporaries left: %d %s; files left in the watch folder: %d' % (
            len(broken), broken[:5], len(temporaries), temporaries[:5],
            sum(1 for n in listing['in'] if n.endswith('.sms'))))
        log('  TEVRAK.INI: %s' % (ini or 'whole'))
        log('  submissions: %d accepted, %d refused by the modem' % (
            sum(len(v) for v in accepted.values()), sum(len(v) for v in refused.values())))
        log('  received SMS: %d, handed over %d, lost %d %s, twice %d %s' % (
            len(self.received), len(self.received) - len(sms_lost), len(sms_lost), sms_lost,
            len(sms_twice), sms_twice))
        log('  faults switched on: %s' % ', '.join('%s %d' % kv for kv in sorted(self.faults.items())))
        log('  kills: %d SIGKILLs, each ending a run; gateway runs: %d' % (len(self.kills), len(runs)))
        for cause, n in sorted(causes.items(), key=lambda kv: -kv[1]):
            log('    %3d  %s' % (n, cause))
        if first and longest:
            log('  resident memory and descriptors: first run %d kB / %d fds at its start, %d kB / %d at its end' % (
                first['first'][0], first['first'][1], first['last'][0], first['last'][1]))
            log('    longest run (%.0f s): %d kB / %d fds at its start, %d kB / %d at its end, peak %d kB / %d' % (
                longest['end'] - longest['start'], longest['first'][0], longest['first'][1],
                longest['last'][0], longest['last'][1], longest['peak'][0], longest['peak'][1]))
        crashes = [c for c in causes if c and c.startswith('died')]
        missed = []
        if lost: missed.append('jobs lost')
        if twice: missed.append('jobs submitted twice')
        if disagreeing: missed.append('rows disagreeing')
        if done_unsent: missed.append('jobs reported sent that the modem never sent')
        if touched: missed.append('other rows changed')
        if broken or temporaries: missed.append('job files not whole or temporaries left')
        if len(once) != len(self.jobs): missed.append('jobs not ended exactly once')
        if ini: missed.append('TEVRAK.INI')
        if sms_lost: missed.append('received SMS lost')
        if crashes: missed.append('the gateway crashed')
        if longest and longest['last'][1] > longest['first'][1] + 2: missed.append('descriptors grew')
        if longest and longest['last'][0] > longest['first'][0] * 3 // 2: missed.append('resident memory grew')
        if len(self.kills) < self.args.kills: missed.append('fewer kills than asked')
        log('soak: ' + ('every target met' if not missed else 'MISSED: ' + ', '.join(missed)))
        return 0 if not missed else 1

    def held_at_a_kill(self, job, before, after):
        """A further submission is excused when a kill came between the two while the modem
        held the one before: the job's submission was the last one begun, its file waiting."""
        return any(before <= k['time'] < after and k['last'] == job['number'] and
                   job['name'] in k['waiting'] for k in self.kills)

    def untouched_rows_changed(self, tables):
        """Rows no job owns must be as the alarm server wrote them; rows of jobs differ only
        in STATUS, TIME, TI1 and TO1."""
        owned = {(j['table'], j['row']) for j in self.jobs if j['table'] is not None}
        out = []
        for t, after in tables.items():
            before = self.tables_before[t]
            if after['count'] != before['count'] or after['deleted'] != before['deleted']:
                out.append('plant%d: %d rows, %d deleted (were %d, %d)' % (
                    t, after['count'], after['deleted'], before['count'], before['deleted']))
                continue
            for n, (b, a) in enumerate(zip(before['records'], after['records']), 1):
                mutable = ('STATUS', 'TIME', 'TI1', 'TO1') if (t, n) in owned else ()
                for field in b:
                    if field not in mutable and b[field] != a[field]:
                        out.append('plant%d row %d %s: %r -> %r' % (t, n, field, b[field], a[field]))
        return out

    def check_ini(self):
        path = os.path.join(self.dir, 'TEVRAK.INI')
        parser = configparser.RawConfigParser(strict=False)
        parser.optionxform = str
        try:
            with open(path, encoding='latin-1') as f:
                parser.read_file(f)
        except (OSError, configparser.Error) as e:
            return 'unreadable: %s' % e
        wrong = [k for k, v in self.config.items() if parser.get('Config', k, fallback=None) != v]
        if wrong:
            return 'keys lost or changed: %s' % wrong
        stamp = parser.get('WatchDog', 'LastAlarm', fallback='00000000')
        if not re.fullmatch(r'[0-9A-F]{8}', stamp):
            return 'LastAlarm is %r' % stamp
        return ''


def main():
    p = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    p.add_argument('--bin', default=os.path.join(os.path.dirname(__file__), '..', 'build', 'bin'))
    p.add_argument('--jobs', type=int, default=300)
    p.add_argument('--incoming', type=int, default=30)
    p.add_argument('--kills', type=int, default=30)
    p.add_argument('--seed', type=int, default=1)
    p.add_argument('--span', type=float, default=1200,
                   help='real seconds over which jobs, messages and kills come (default 1200)')
    p.add_argument('--time-scale', type=float, default=1,
                   help="GSMS_TIME_SCALE: the gateway's pauses and time-outs this many times faster")
    p.add_argument('--dir', help='work here (kept) instead of a temporary folder')
    p.add_argument('--keep', action='store_true', help='keep the temporary folder')
    p.add_argument('--short', action='store_true',
                   help="CI's version: 50 jobs, 6 SMS, 5 kills over 60 s, time scale 10")
    args = p.parse_args()
    args.bin = os.path.abspath(args.bin)  # the programs run in the soak's folder
    if args.short:
        args.jobs, args.incoming, args.kills, args.span, args.time_scale = 50, 6, 5, 60, 10
    soak = Soak(args)
    try:
        rc = soak.run()
    finally:
        for thing in ('gateway', 'sim'):
            obj = getattr(soak, thing, None)
            proc = getattr(obj, 'proc', None)
            if proc is not None and proc.poll() is None:
                proc.kill()
    if args.dir is None and not args.keep and rc == 0:
        shutil.rmtree(soak.dir, ignore_errors=True)
    elif args.dir is None:
        log('soak: the run is kept in ' + soak.dir)
    return rc


if __name__ == '__main__':
    sys.exit(main())
