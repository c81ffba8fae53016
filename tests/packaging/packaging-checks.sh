#!/usr/bin/env bash
# Checks of what `cmake --install` puts on a system, cheap enough for every run.
#   packaging-checks.sh manpages    BUILD VERSION
#   packaging-checks.sh completion  SOURCE BUILD
#   packaging-checks.sh install     SOURCE BUILD VERSION
set -euo pipefail
check=$1
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

case $check in
manpages)
    build=$2 version=$3
    for program in varnet varnet-send; do
        page="$build/packaging/man/$program.1.gz"
        [ -f "$page" ] || { fail "$page was not made"; continue; }
        warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
        [ -z "$warnings" ] || fail "$program(1) renders with warnings: $warnings"
        text=$(LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$page" 2>/dev/null | col -bx)
        for section in NAME SYNOPSIS DESCRIPTION "EXIT STATUS" ENVIRONMENT FILES EXAMPLES; do
            grep -qx "$section" <<<"$text" || fail "$program(1) has no $section section"
        done
        grep -q "^$program $version " <<<"$(grep . <<<"$text" | tail -n 1)" ||
            fail "$program(1) does not name version $version in its footer"
        # Every option and exit status --help lists is in the page.
        help=$("$build/src/$([ "$program" = varnet-send ] && echo send/)$program" --help)
        for option in $(grep -oE '(^|[ ,])--?[A-Za-z][-A-Za-z]*' <<<"$help" | tr -d ' ,' | sort -u); do
            grep -qe "$option" <<<"$text" || fail "$program(1) lacks the option $option"
        done
        statuses=$(sed -n '/^EXIT STATUS$/,/^[A-Z]/p' <<<"$text")
        for status in $(sed -n '/^Exit status:/,$p' <<<"$help" | grep -oE '^ +[0-9]+' | tr -d ' '); do
            grep -qE "^ +$status +" <<<"$statuses" || fail "$program(1) EXIT STATUS lacks $status"
        done
    done
    ;;
completion)
    source_dir=$2 build=$3
    bin=$(mktemp -d)
    sandbox="$source_dir/tests/support/cups-sandbox.sh"
    trap 'bash "$sandbox" stop "$bin/cups"; rm -rf "$bin"' EXIT
    # Queue names are anyone's to choose, so some are made to run commands
    # or to be changed by a shell that expands them.
    hostile=('$(touch${IFS}PWNED)' '`touch${IFS}PWNED`' 'a$b' 'a${b}' 'a{b,c}' 'a~b' '~a' 'a;touch${IFS}PWNED' 'a*' '*')
    eval "$(bash "$sandbox" start "$bin/cups")"
    for queue in Office Labels Lab2 "${hostile[@]}"; do
        bash "$sandbox" add-queue "$bin/cups" "$queue" socket://127.0.0.1:9 ||
            fail "the scheduler does not take the queue name $queue"
    done
    ln -s "$build/src/send/varnet-send" "$bin/varnet-send"
    touch "$bin/job.pcl" "$bin/job.prn"
    # complete WORDS...: what bash offers for the last word.
    complete_words() {
        PATH="$bin:$PATH" bash --norc --noprofile -c '
            cd "$1" && shift
            source "$0" || exit 1
            COMP_WORDS=("$@")
            COMP_CWORD=$(($# - 1))
            registered=$(complete -p varnet-send) || exit 1
            _varnet_send varnet-send "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
            [ ${#COMPREPLY[@]} = 0 ] || printf "%s\n" "${COMPREPLY[@]}" | LC_ALL=C sort | tr "\n" " "
        ' "$source_dir/packaging/bash-completion/varnet-send" "$bin" "$@"
    }
    expect() {
        local want=$1
        shift
        local got
        got=$(complete_words "$@")
        [ "$got" = "$want" ] || fail "completing '$*': got '$got', want '$want'"
    }
    expect "--parallel --printer " varnet-send --p
    expect "--wait --wait-eof --wait-timeout " varnet-send -p Office --wai
    expect "Lab2 Labels " varnet-send -p Lab
    expect "$(printf '%s\n' Office Labels Lab2 "${hostile[@]}" | LC_ALL=C sort | tr "\n" " ")" \
        varnet-send --printer = ""
    expect "$(printf '%s\n' "${hostile[@]}" | grep '^a' | LC_ALL=C sort | tr "\n" " ")" varnet-send -p a
    expect 'a$b a${b} ' varnet-send -p 'a$'
    expect '$(touch${IFS}PWNED) ' varnet-send -p '$('
    [ ! -e "$bin/PWNED" ] || fail "completing a queue name ran a command the name holds"
    expect "job.pcl job.prn " varnet-send -p Office job.p
    expect "" varnet-send --title job
    expect "" varnet-send -- --p
    # Every option of --help is offered.
    all=$(complete_words varnet-send -)
    for option in $("$build/src/send/varnet-send" --help | grep -oE '(^|[ ,])--?[A-Za-z][-A-Za-z]*' | tr -d ' ,'); do
        [[ " $all " == *" $option "* ]] || fail "completion does not offer $option"
    done
    ;;
install)
    source_dir=$2 build=$3 version=$4
    prefix=$(mktemp -d)
    trap 'rm -rf "$prefix"' EXIT
    cmake --install "$build" --prefix "$prefix" >/dev/null
    expected="bin/varnet
bin/varnet-send
share/applications/varnet.desktop
share/bash-completion/completions/varnet-send
share/icons/hicolor/128x128/apps/varnet.png
share/icons/hicolor/16x16/apps/varnet.png
share/icons/hicolor/22x22/apps/varnet.png
share/icons/hicolor/24x24/apps/varnet.png
share/icons/hicolor/256x256/apps/varnet.png
share/icons/hicolor/32x32/apps/varnet.png
share/icons/hicolor/48x48/apps/varnet.png
share/icons/hicolor/64x64/apps/varnet.png
share/icons/hicolor/scalable/apps/varnet.svg
share/man/man1/varnet-send.1.gz
share/man/man1/varnet.1.gz
share/metainfo/org.example.varnet.metainfo.xml"
    got=$(cd "$prefix" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort)
    [ "$got" = "$(LC_ALL=C sort <<<"$expected")" ] ||
        fail "installed files differ from the expected ones:$(diff <(LC_ALL=C sort <<<"$expected") <(echo "$got") | sed 's/^/ /')"
    for icon in "$prefix"/share/icons/hicolor/*x*/apps/varnet.png; do
        size=$(basename "$(dirname "$(dirname "$icon")")")
        read -r w1 w2 w3 w4 h1 h2 h3 h4 < <(od -An -tu1 -j16 -N8 "$icon")
        [ "$(((w1 << 24) + (w2 << 16) + (w3 << 8) + w4))x$(((h1 << 24) + (h2 << 16) + (h3 << 8) + h4))" = "$size" ] ||
            fail "$icon is not $size"
    done
    for program in varnet varnet-send; do
        said=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM= "$prefix/bin/$program" --version)
        [ "$said" = "$program $version" ] || fail "$program --version says '$said', not '$program $version'"
    done
    grep -q "<release version=\"$version\" date=\"[0-9-]*\"" "$prefix"/share/metainfo/*.xml ||
        fail "the AppStream release is not version $version"
    head -n 1 "$source_dir/debian/changelog" | grep -q "^varnet ($version-[0-9.]*) " ||
        fail "debian/changelog's latest entry is not version $version"
    ;;
*)
    echo "usage: $0 manpages|completion|install ..." >&2
    exit 2
    ;;
esac
[ $failures = 0 ] && echo "$check: all checks passed"
exit $((failures > 0))
