# bash completion for ctxdump, the reader of debugger context files.

_ctxdump() {
    local cur=${COMP_WORDS[COMP_CWORD]}
    local IFS=$'\n'
    COMPREPLY=()

    # After "--" every word is a file.
    local i
    for ((i = 1; i < COMP_CWORD; i++)); do
        if [[ ${COMP_WORDS[i]} == -- ]]; then
            COMPREPLY=($(compgen -f -- "$cur"))
            return
        fi
    done

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W $'-x\n--hex\n--json\n--verify\n-h\n--help\n--version\n--' -- "$cur"))
        return
    fi
    COMPREPLY=($(compgen -f -- "$cur"))
}

complete -o filenames -F _ctxdump ctxdump
