#!/usr/bin/env python3
"""Figures of the Windows program under wine (`make bench-wine`), against talvo-sim paced like a
115200-baud line on a wine COM port: talvo-flash.exe --install --fast and the window's installation
of the S image against the by-length minimum that `make bench` uses, CPU per second of waiting
(the program and the wine server, which does the serial waits), the time from start to the window
shown, resident memory. Measured from outside: the flasher's --json events as they arrive, the
window through xdotool and its run log.
Usage: windows-wine.py WORK WINDOWS_BIN TALVO_SIM MINIMUM_MS"""
import datetime
import os
import re
import resource
import subprocess
import sys
import time

work, program_dir, sim, minimum_ms = sys.argv[1], sys.argv[2], sys.argv[3], float(sys.argv[4])
prefix = os.path.join(work, "prefix")
env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all", LC_ALL="C.UTF-8",
           WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")
env.pop("DISPLAY", None)
rows = []
tick = os.sysconf("SC_CLK_TCK")


def row(what, value, note=""):
    rows.append((what, value, note))
    print("%-62s %-14s %s" % (what, value, note), flush=True)


def cpu_ms(pid):
    """CPU time (user and system) of a running process."""
    try:
        fields = open("/proc/%d/stat" % pid).read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) * 1000.0 / tick
    except OSError:
        return 0.0


def server_pid():
    """The prefix's wine server: the one working in the prefix's server folder."""
    status = os.stat(prefix)
    folder = "/server-%x-%x" % (status.st_dev, status.st_ino)
    end = time.monotonic() + 10
    while time.monotonic() < end:  # the server detaches before it settles in its folder
        for pid in os.listdir("/proc"):
            try:
                if pid.isdigit() and os.readlink("/proc/%s/cwd" % pid).endswith(folder):
                    return int(pid)
            except OSError:
                pass
        time.sleep(0.05)
    raise SystemExit("no wine server for " + prefix)


def unit(com):
    """A paced S unit behind the wine port COM; returns its process."""
    memory = os.path.join(work, com + ".memory")
    if os.path.exists(memory):
        os.remove(memory)
    process = subprocess.Popen([sim, "--paced", "--family", "S", "--memory-file", memory],
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    port = process.stdout.readline().split()[1]
    link = os.path.join(prefix, "dosdevices", com.lower())
    if os.path.lexists(link):
        os.remove(link)
    os.symlink(port, link)
    return process


if not os.path.exists(os.path.join(prefix, ".ready")):
    subprocess.run(["rm", "-rf", prefix])
    subprocess.run(["timeout", "300", "wineboot", "--init"], env=env, capture_output=True, check=True)
    subprocess.run(["timeout", "60", "wineserver", "-w"], env=env, check=True)
    open(os.path.join(prefix, ".ready"), "w").close()
subprocess.Popen(["wineserver"], env=env, stdout=open(os.path.join(work, "server.log"), "a"),
                 stderr=subprocess.STDOUT).wait()
server = server_pid()
row("by-length minimum, S image, fast replies (make bench)", "%.2f s" % (minimum_ms / 1000))

# talvo-flash.exe --install --fast: from the first event of the installation to the result.
sim_process = unit("COM21")
flash_env = dict(env, TALVO_EXTRA_PORTS="COM21=TV0021")
before = resource.getrusage(resource.RUSAGE_CHILDREN)
server_before = cpu_ms(server)
flasher = subprocess.Popen(["timeout", "300", "wine", os.path.join(program_dir, "talvo-flash.exe"), "--install",
                            "--fast", "--json", "--port", "COM21"], env=flash_env, stdout=subprocess.PIPE,
                           stderr=subprocess.DEVNULL, text=True)
started = ended = None
for line in flasher.stdout:
    if started is None and '"phase":"authenticating"' in line:
        started = time.monotonic()
    if '"event":"result"' in line:
        ended = time.monotonic()
        ok = '"ok":true' in line
flasher.wait()
after = resource.getrusage(resource.RUSAGE_CHILDREN)
server_ms = cpu_ms(server) - server_before
sim_process.terminate()
sim_process.wait()
if started and ended and ok:
    wall = ended - started
    program_ms = (after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime) * 1000
    row("talvo-flash.exe --install --fast, S image", "%.2f s" % wall, "%.3f x the minimum" % (wall * 1000 / minimum_ms))
    row("talvo-flash.exe: CPU per second of the run (program + wine server)",
        "%.0f + %.0f ms" % (program_ms / wall, server_ms / wall), "whole process, start and search included")
    row("talvo-flash.exe: resident memory, peak", "%.1f MB" % (after.ru_maxrss / 1024))
else:
    row("talvo-flash.exe --install --fast, S image", "failed")

# The window, on a display of its own.
read_end, write_end = os.pipe()
xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1600x1200x24", "-nolisten", "tcp"],
                        pass_fds=(write_end,), stderr=subprocess.DEVNULL)
os.close(write_end)
display = ":" + os.read(read_end, 16).decode().strip()
genv = dict(env, DISPLAY=display, TALVO_EXTRA_PORTS="COM22=TV0022")
subprocess.run(["timeout", "60", "wineserver", "-k"], env=env)
subprocess.Popen(["wineserver"], env=env, stdout=open(os.path.join(work, "server.log"), "a"),
                 stderr=subprocess.STDOUT).wait()
server = server_pid()
sim_process = unit("COM22")
logs = os.path.join(prefix, "drive_c", "users", os.environ.get("USER", "root"), "AppData", "Local", "Talvo",
                    "TalvoUpdater", "logs")


def xdotool(*arguments):
    return subprocess.run(["xdotool"] + list(arguments), env=genv, capture_output=True, text=True).stdout.split()


def wait_for(condition, bound, step=0.02):
    end = time.monotonic() + bound
    while time.monotonic() < end:
        if condition():
            return True
        time.sleep(step)
    return False


for start in ("cold", "warm"):
    began = time.monotonic()
    window = subprocess.Popen(["timeout", "600", "wine", os.path.join(program_dir, "TalvoUpdater.exe"), "--user-folder"],
                              env=genv, cwd=program_dir, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    shown = wait_for(lambda: xdotool("search", "--onlyvisible", "--name", "Update Center"), 60)
    row("TalvoUpdater.exe: start to window shown (%s)" % start,
        "%.2f s" % (time.monotonic() - began) if shown else "no window")
    if start == "cold":
        xdotool("key", "--window", xdotool("search", "--onlyvisible", "--name", "Update Center")[0], "alt+F4")
        window.wait(60)
        subprocess.run(["timeout", "60", "wineserver", "-w"], env=env)
        subprocess.Popen(["wineserver"], env=env, stdout=open(os.path.join(work, "server.log"), "a"),
                         stderr=subprocess.STDOUT).wait()
        server = server_pid()
program = int(subprocess.run(["pgrep", "-g", str(window.pid), "-f", "TalvoUpdater.exe"], capture_output=True,
                             text=True).stdout.split()[-1])
window_id = xdotool("search", "--onlyvisible", "--name", "Update Center")[0]
subprocess.run(["xdotool", "windowfocus", "--sync", window_id], env=genv)
time.sleep(2)  # the welcome page settled; then ten seconds of nothing to do
program_before, server_before = cpu_ms(program), cpu_ms(server)
time.sleep(10)
row("TalvoUpdater.exe: CPU per second on the welcome page (program + wine server)",
    "%.1f + %.1f ms" % ((cpu_ms(program) - program_before) / 10, (cpu_ms(server) - server_before) / 10))
log = sorted(f for f in os.listdir(logs) if f.startswith("TalvoUpdater-"))[-1]
log = os.path.join(logs, log)


def statuses():
    return len(re.findall(r"Status +: OK", open(log, encoding="utf-8", errors="replace").read()))


xdotool("key", "Return")
if not wait_for(lambda: statuses() >= 1, 60):
    row("the window's installation", "the search found no unit")
else:
    time.sleep(1)  # the device page's caption guard
    xdotool("key", "--delay", "150", "Tab", "Tab", "Tab", "Tab")
    program_before, server_before = cpu_ms(program), cpu_ms(server)
    began = time.monotonic()
    xdotool("key", "Return")
    if wait_for(lambda: statuses() >= 2, 300):
        wall = time.monotonic() - began
        row("TalvoUpdater.exe: installation of the S image, Return to the result", "%.2f s" % wall,
            "%.3f x the minimum" % (wall * 1000 / minimum_ms))
        # As `make bench` times the window's installation: from the worker's start of it to the
        # controller's result, without the scene's fixed half second before it starts.
        stamps = re.findall(r"^(\S+) talvo\.(worker: -{8}|controller: Status +: OK)",
                            open(log, encoding="utf-8", errors="replace").read(), re.M)
        begun = [t for t, what in stamps if what.startswith("worker")]
        if begun and stamps[-1][1].startswith("controller"):
            seconds = lambda t: datetime.datetime.fromisoformat(t).timestamp()
            install = seconds(stamps[-1][0]) - seconds(begun[-1])
            row("TalvoUpdater.exe: installation of the S image, as its log times it", "%.2f s" % install,
                "%.3f x the minimum" % (install * 1000 / minimum_ms))
        row("TalvoUpdater.exe: CPU per second of the installation (program + wine server)",
            "%.0f + %.0f ms" % ((cpu_ms(program) - program_before) / wall, (cpu_ms(server) - server_before) / wall))
    else:
        row("the window's installation", "no result")
    status = open("/proc/%d/status" % program).read()
    row("TalvoUpdater.exe: resident memory, peak", "%.1f MB" % (int(re.search(r"VmHWM:\s+(\d+)", status).group(1)) / 1024))
time.sleep(1)
xdotool("key", "alt+F4")
window.wait(60)
sim_process.terminate()
subprocess.run(["timeout", "60", "wineserver", "-k"], env=env)
xvfb.terminate()
