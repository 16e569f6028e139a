# SPDX-License-Identifier: MIT
# bash completion for vexalo4-cli
_vexalo4_cli()
{
    local cur prev command word
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD-1]}

    case $prev in
        -f|--find|-w|--with|-p|--protect)
            return ;;
        -F|--find-file|-W|--with-file)
            compopt -o filenames 2>/dev/null
            COMPREPLY=($(compgen -f -- "$cur"))
            return ;;
        --sync)
            COMPREPLY=($(compgen -W 'end each' -- "$cur"))
            return ;;
    esac

    command=
    for word in "${COMP_WORDS[@]:1:COMP_CWORD-1}"; do
        case $word in
            replace|restore|undo|help) command=$word; break ;;
        esac
    done

    if [[ -z $command ]]; then
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W '--help --version -h -V' -- "$cur"))
        else
            COMPREPLY=($(compgen -W 'replace restore undo help' -- "$cur"))
        fi
        return
    fi

    if [[ $command == help ]]; then
        COMPREPLY=($(compgen -W 'replace restore undo' -- "$cur"))
        return
    fi

    if [[ $cur == -* ]]; then
        local common='--quiet --paths --no-progress --sync --help -q -h'
        if [[ $command == replace ]]; then
            COMPREPLY=($(compgen -W "--find --with --find-file --with-file --case-sensitive --backup
                --trim --dry-run --exact-breaks --regex --protect --no-journal -f -w -F -W -c -b -t -n -p -e $common" -- "$cur"))
        elif [[ $command == undo ]]; then
            COMPREPLY=($(compgen -W "--list -l $common" -- "$cur"))
        else
            COMPREPLY=($(compgen -W "$common" -- "$cur"))
        fi
        return
    fi
    # undo takes no files: it takes back the last run as a whole.
    [[ $command == undo ]] && return
    compopt -o filenames 2>/dev/null
    COMPREPLY=($(compgen -f -- "$cur"))
}
complete -F _vexalo4_cli vexalo4-cli
