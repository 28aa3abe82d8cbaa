# bash completion for repodeck-scan: its options, read from the option list
# of its own --help (so a new option needs nothing here), pane names after
# --pane, WHEN after --color=, and folders everywhere else.
_repodeck_scan() {
    local cur prev words cword
    _init_completion -n = || return

    case $prev in
    --pane)
        local pane
        for pane in Logs Repositories Updates Status Compacts Remotes 'Read Me' Summary; do
            # letters' case is ignored, as repodeck-scan does
            [[ ${pane,,} == "${cur,,}"* ]] && COMPREPLY+=("$(printf %q "$pane")")
        done
        return
        ;;
    --jobs)
        COMPREPLY=($(compgen -W '0 1 2 4 8 16' -- "$cur"))
        return
        ;;
    --per-host)
        COMPREPLY=($(compgen -W '1 2 4 8 16' -- "$cur"))
        return
        ;;
    --timeout)
        return  # a number of seconds: nothing to offer
        ;;
    esac

    case $cur in
    --color=*)
        COMPREPLY=($(compgen -W 'auto always never' -- "${cur#*=}"))
        ;;
    -*)
        local options
        options=$("$1" --help 2>/dev/null | grep -oE -- '(^ +|  |, )--[a-z][a-z-]*' | grep -oE -- '--[a-z-]+')
        COMPREPLY=($(compgen -W "${options/--color/--color=}" -- "$cur"))
        [[ ${COMPREPLY-} == *= ]] && compopt -o nospace
        ;;
    *)
        _filedir -d
        ;;
    esac
}
complete -F _repodeck_scan repodeck-scan
