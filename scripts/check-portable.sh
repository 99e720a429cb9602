#!/usr/bin/env bash
# Keeps the platform's own interfaces inside platform/ folders: a port to
# another system replaces those folders and nothing else. Fails on any POSIX
# or Linux header included from a file of the program (and the simulator)
# outside a platform/ folder. The tests and benchmarks play the user's and
# the machine's side on this platform and are not checked.
set -euo pipefail
cd "$(dirname "$0")/.."
headers='unistd|fcntl|poll|termios|dirent|pwd|grp|dlfcn|pthread|sched|semaphore|spawn|syslog|utime|libgen|pty|utmp|glob|fnmatch|wordexp|sys/[a-z_/]+|netinet/[a-z_]+|arpa/[a-z_]+|linux/[a-z_/]+|asm/[a-z_/]+'
found=$(git ls-files '*.cpp' '*.h' | grep -vE '(^|/)platform/|^tests/|^bench/' |
  xargs grep -nE "^\s*#\s*include\s*<(${headers})\.h>" || true)
if [ -n "$found" ]; then
  echo "platform headers outside a platform/ folder:"
  echo "$found"
  exit 1
fi
echo "platform headers: only in platform/ folders"
