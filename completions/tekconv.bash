# bash completion for tekconv, the TEKA object file converter.

_tekconv() {
    local cur=${COMP_WORDS[COMP_CWORD]}
    local prev=${COMP_WORDS[COMP_CWORD-1]}
    local IFS=$'\n'
    COMPREPLY=()

    # --output=FILE and --cpd-dir=DIR: the shell splits the word at '='.
    if [[ $cur == = ]]; then
        prev=${COMP_WORDS[COMP_CWORD-1]}=
        cur=
    elif [[ $prev == = ]]; then
        prev=${COMP_WORDS[COMP_CWORD-2]}=
    fi
    case $prev in
        -o | --output | --output=)
            COMPREPLY=($(compgen -f -- "$cur"))
            return
            ;;
        -O)
            COMPREPLY=($(compgen -W $'ctx\nelf' -- "$cur"))
            return
            ;;
        --cpd-dir | --cpd-dir=)
            COMPREPLY=($(compgen -d -- "$cur"))
            return
            ;;
    esac

    # After "--" every word is a file.
    local i
    for ((i = 1; i < COMP_CWORD; i++)); do
        if [[ ${COMP_WORDS[i]} == -- ]]; then
            COMPREPLY=($(compgen -f -- "$cur"))
            return
        fi
    done

    if [[ $cur == -* ]]; then
        local options=$'-o\n--output\n-O\n-q\n-v\n--strict\n--cpd-dir\n-s\n-sf\n-st\n-sg\n-ss\n-sl'
        options+=$'\n-ps\n-m16\n-l\n-fullpath\n-c\n-d\n-h\n--help\n--version\n--'
        # The type index check is chosen by -k as the first argument only.
        ((COMP_CWORD == 1)) && options=$'-k\n'$options
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return
    fi
    COMPREPLY=($(compgen -f -- "$cur"))
}

complete -o filenames -F _tekconv tekconv
