#!/bin/sh
# Starts Vx52PSoft in the user's working folder (or the one --workdir names). The program reads and writes
# its settings ("Set.Dat", "AutoSave52P.52P"), its language files, its help and
# the serial-port links "COM<N>" in the folder it runs in, so every user gets a
# folder of their own, made on first use, with the language and help files
# linked from the installation. The installation is found from this script's
# own place, so any prefix works.

# --workdir DIR names another working folder (a service gives each instance
# one): the files are linked there, the program changes into it itself, and
# says what is wrong with a folder it cannot use.
given=
prev=
for arg in "$@"; do
    [ "$arg" = -- ] && break
    case "$prev:$arg" in
    --workdir:*) given=$arg ;;
    *:--workdir=*) given=${arg#--workdir=} ;;
    esac
    prev=$arg
done

# An unset, empty or relative XDG_DATA_HOME means the default one.
case "${XDG_DATA_HOME:-}" in
/*) data_home=$XDG_DATA_HOME ;;
*)
    if [ -z "${HOME:-}" ] && [ -z "$given" ]; then
        echo "vx52psoft: neither XDG_DATA_HOME nor HOME is set: no working folder" >&2
        exit 255
    fi
    data_home=${HOME:-}/.local/share
    ;;
esac
work=$data_home/Vx52PSoft

# readlink -f gives an absolute path, so cutting at the last "/" is safe; the
# fewer commands run here, the sooner the window is up.
self=$(readlink -f "$0")
prefix=${self%/*}
prefix=${prefix%/*}
lib=$prefix/lib/vx52psoft
if [ ! -x "$lib/Vx52PSoft" ]; then
    echo "vx52psoft: the program $lib/Vx52PSoft is missing" >&2
    exit 255
fi

if [ -n "$given" ]; then
    [ -d "$given" ] && [ -w "$given" ] || exec "$lib/Vx52PSoft" "$@"
    here=$given/
elif ! { [ -d "$work" ] || mkdir -p "$work" 2>/dev/null; } || ! cd "$work"; then
    echo "vx52psoft: cannot make or enter the working folder $work" >&2
    exit 255
else
    here=
fi

# A link that leads nowhere (say, to a removed installation) is renewed; a
# link that leads somewhere, and a file of the user's own, are kept.
for name in English.dat Chinese.dat Vx52P_PC_Software_EN.chm Vx52P_PC_Software_CN.chm help; do
    [ -e "$lib/$name" ] || continue
    if [ -L "$here$name" ] && [ ! -e "$here$name" ]; then
        ln -sfn "$lib/$name" "$here$name" 2>/dev/null
    elif [ ! -e "$here$name" ] && [ ! -L "$here$name" ]; then
        # Two starts at once may race here; the loser's link is already there.
        ln -s "$lib/$name" "$here$name" 2>/dev/null
    fi
done

exec "$lib/Vx52PSoft" "$@"
