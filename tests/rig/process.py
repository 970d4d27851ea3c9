"""Processes: processor seconds, children that die with the rig, namespaces of a test's own."""
import ctypes
import os
import signal
import sys

PR_SET_PDEATHSIG = 1
_libc = ctypes.CDLL(None, use_errno=True)


TICKS = os.sysconf("SC_CLK_TCK")


def read_stat(path):
    """A process's or thread's stat file (/proc/PID[/task/TID]/stat): its name, its user and
    system time ("cpu") and its start ("start"), in clock ticks."""
    with open(path) as stat:
        text = stat.read()
    # The name may hold spaces and parentheses; fields[0] is the state, field 3.
    fields = text[text.rindex(")") + 2:].split()
    return {"name": text[text.index("(") + 1:text.rindex(")")],
            "cpu": int(fields[11]) + int(fields[12]), "start": int(fields[19])}


def processor_seconds(pid):
    return read_stat(f"/proc/{pid}/stat")["cpu"] / TICKS


def die_with_parent():
    """preexec_fn of a child killed when this process ends, however it ends."""
    _libc.prctl(PR_SET_PDEATHSIG, signal.SIGKILL)


def enter_namespaces(*unshare_options):
    """Runs this program again in new namespaces (unshare execs it: a time-out ends the process
    that owns them); returns in the program run again. Needs root."""
    if os.environ.get("VARNOLT_IN_TEST_NAMESPACE") == "1":
        return
    if os.geteuid() != 0:
        sys.exit(f"{os.path.basename(sys.argv[0])}: needs root (namespaces of its own)")
    os.environ["VARNOLT_IN_TEST_NAMESPACE"] = "1"
    os.execvp("unshare", ["unshare", *unshare_options, sys.executable, *sys.argv])
