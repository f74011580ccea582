# Sourced by the installer tests: a Wine prefix of their own, steps run in it
# as a batch file would run them on Windows, and the registry values they read.
wine=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")/../../scripts" && pwd)/wine
failed=0
fail() { echo "${0##*/}: $*" >&2; failed=1; }

# fresh_prefix DIR: a new prefix at DIR, removed when the test ends.
fresh_prefix() {
    export ZORVIK_WINEPREFIX=$1
    rm -rf "$ZORVIK_WINEPREFIX"
    trap 'rm -rf "$ZORVIK_WINEPREFIX" "$ZORVIK_WINEPREFIX.lock"' EXIT
    mkdir -p "$ZORVIK_WINEPREFIX"
}

# windows_path FILE: FILE as Wine's Z: drive shows it.
windows_path() { local p; p=$(realpath -- "$1"); echo "Z:${p//\//\\}"; }

# step LINE...: the lines as one batch file in one Wine session; prints what
# they print, without CRs. A batch file waits for each program it starts.
step() {
    local drive_c=$ZORVIK_WINEPREFIX/drive_c
    mkdir -p "$drive_c"
    { printf '@echo off\r\n'; printf '%s\r\n' "$@"; } >"$drive_c/step.bat"
    "$wine" cmd /c 'C:\step.bat' 2>/dev/null | tr -d '\r'
}

# read_only_step DIR LINE...: step, with the folder DIR (made if need be)
# read-only to the step alone: a read-only bind mount in its namespace's own
# mounts (as root a mode would not stop a write).
read_only_step() {
    local setup=$ZORVIK_WINEPREFIX.read-only
    mkdir -p "$1"
    printf '#!/bin/sh\nmount --bind "%s" "%s" && mount -o remount,bind,ro "%s" "%s"\n' "$1" "$1" "$1" "$1" >"$setup"
    chmod +x "$setup"
    shift
    ZORVIK_WINE_SETUP=$setup step "$@"
    rm -f "$setup"
}

# value NAME REG_QUERY_OUTPUT: "TYPE DATA" of the value NAME.
value() { sed -n "s/^    $1    \(REG_[A-Z_]*\)    \(.*\)$/\1 \2/p" <<<"$2"; }

# expect_values REG_QUERY_OUTPUT NAME "TYPE DATA"...: each value as given.
expect_values() {
    local values=$1
    shift
    while [[ $# -gt 0 ]]; do
        [[ $(value "$1" "$values") == "$2" ]] || fail "$1 is '$(value "$1" "$values")', not '$2'"
        shift 2
    done
}

# The batch lines that wait up to 10 s for FOLDER (a Windows path) to go.
wait_gone() { echo "for /l %%i in (1,1,10) do if exist \"$1\\\" ping -n 2 127.0.0.1 >nul"; }

uninstall_key='Software\Microsoft\Windows\CurrentVersion\Uninstall'

# Each scope's PATH, longer than makensis's strings: the folder goes on its end
# and comes off again. set_path KEY: the batch line that sets it.
system_env='HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment' user_env='HKCU\Environment'
long_path='C:\windows\system32;C:\windows'
for i in $(seq 40); do long_path+=";C:\Tools\a folder with a long name, number $i"; done
set_path() { echo "reg add \"$1\" /v Path /t REG_EXPAND_SZ /d \"$long_path\" /f >nul"; }

# bad_checksums FILE...: each PE file whose checksum is not the right one.
bad_checksums() {
    /usr/bin/python3 -c 'import pefile, sys
for path in sys.argv[1:]:
    if not pefile.PE(path, fast_load=True).verify_checksum(): print(path)' "$@"
}

# lf_only FILE...: each text file with a line that does not end in CR LF.
lf_only() { grep -lv $'\r$' "$@"; }

# stand_in_netsh STAND_IN.exe: the batch lines that put the stand-in in netsh's
# place (Wine would run its own, which has no advfirewall, instead of a file there).
stand_in_netsh() {
    echo "copy /y \"$(windows_path "$1")\" \"%SystemRoot%\\system32\\netsh.exe\" >nul"
    echo 'reg add HKCU\Software\Wine\DllOverrides /v netsh.exe /d native /f >nul'
}

# netsh_calls: the stand-in's command lines since the last call, from its arguments on.
netsh_calls() {
    local log=$ZORVIK_WINEPREFIX/drive_c/windows/system32/netsh.log
    [[ -f $log ]] && sed 's/^.*netsh\.exe"\? //' "$log"
    rm -f "$log"
}

# firewall_calls DIR ACTION...: netsh's command lines for each ACTION (add or
# delete) of the rule of each program in DIR, the window's first.
firewall_calls() {
    local dir=$1 name program action
    shift
    for program in zorvik-discovery.exe zorvik-discover.exe; do
        [[ $program == zorvik-discovery.exe ]] && name='Zorvik Discovery' || name='Zorvik Discovery (command line)'
        for action; do
            if [[ $action == add ]]; then
                echo "advfirewall firewall add rule name=\"$name\" dir=in action=allow protocol=udp profile=private,domain remoteip=any program=\"$dir\\$program\""
            else
                echo "advfirewall firewall delete rule name=\"$name\" program=\"$dir\\$program\""
            fi
        done
    done
}
