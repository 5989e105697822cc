# bash completion for pellan-decode: its options, the names of the decode settings that the
# window stored, and files.

# The options as the installed program's --help lists them, one a line, asked once per shell:
# a new option is offered without this file changing.
_pellan_decode_options()
{
    if [[ -z ${_pellan_decode_option_list-} ]]; then
        _pellan_decode_option_list=$("$1" --help 2>/dev/null |
            grep -oE -- '(^|[^[:alnum:]-])--[a-z][a-z-]*' | sed 's/^[^-]*//' | sort -u)
    fi
    printf '%s\n' "$_pellan_decode_option_list"
}

# A key of the settings file as its writer (QSettings) escapes it: %XX for a character up to
# U+00FF, %UXXXX for any other UTF-16 unit, a surrogate pair as two.
_pellan_decode_unescape()
{
    local text=$1 out= code low
    while [[ $text =~ ^([^%]*)%(U[0-9A-Fa-f]{4}|[0-9A-Fa-f]{2})(.*)$ ]]; do
        out+=${BASH_REMATCH[1]}
        code=${BASH_REMATCH[2]}
        text=${BASH_REMATCH[3]}
        if [[ $code == U* ]]; then
            code=$((16#${code#U}))
            if ((code >= 0xD800 && code < 0xDC00)) && [[ $text =~ ^%U([0-9A-Fa-f]{4})(.*)$ ]]; then
                low=$((16#${BASH_REMATCH[1]}))
                text=${BASH_REMATCH[2]}
                code=$((0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00)))
            fi
        else
            code=$((16#$code))
        fi
        out+=$(printf "\\U$(printf '%08x' "$code")")
    done
    printf '%s\n' "$out$text"
}

# The names of the stored decode settings, one a line: the sub-groups of DecodeSettings in the
# settings file that the window and pellan-decode share; the built-in ones while none is stored.
_pellan_decode_settings()
{
    local file=${XDG_CONFIG_HOME:-$HOME/.config}/Quenz/PellanDecoder.conf key
    local -A seen=()
    if [[ -r $file ]]; then
        while IFS= read -r key; do
            [[ -n $key && -z ${seen[$key]-} ]] || continue
            seen[$key]=1
            _pellan_decode_unescape "$key"
        done < <(sed -n '/^\[DecodeSettings\]/,/^\[/{s/^\([^\\=[]*\)\\.*/\1/p}' "$file" | tr -d '\r')
    fi
    if ((${#seen[@]} == 0)); then
        printf '%s\n' CD 'プラグインのデフォルト'
    fi
}

_pellan_decode()
{
    local cur=${COMP_WORDS[COMP_CWORD]} prev=
    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
    local IFS=$'\n' word
    COMPREPLY=()
    # "--out-dir=wav": bash splits the word at "=", leaving the option one word further back.
    if [[ $cur == = ]]; then
        cur=
    elif [[ $prev == = ]] && ((COMP_CWORD > 1)); then
        prev=${COMP_WORDS[COMP_CWORD - 2]}
    fi

    # After "--" every word is a file.
    for word in "${COMP_WORDS[@]:1:COMP_CWORD-1}"; do
        if [[ $word == -- ]]; then
            compopt -o filenames 2>/dev/null
            COMPREPLY=($(compgen -f -- "$cur"))
            return
        fi
    done

    case $prev in
    --out-dir | --plugins)
        compopt -o filenames 2>/dev/null
        COMPREPLY=($(compgen -d -- "$cur"))
        return
        ;;
    --playlist)
        compopt -o filenames 2>/dev/null
        COMPREPLY=($(compgen -d -- "$cur") $(compgen -f -X '!*.[kK][bB][mM]' -- "$cur"))
        return
        ;;
    --setting)
        local name
        while IFS= read -r name; do
            [[ $name == "$cur"* ]] && COMPREPLY+=("$(printf '%q' "$name")")
        done < <(_pellan_decode_settings)
        return
        ;;
    --bits)
        COMPREPLY=($(compgen -W $'default\n16\n24\n32' -- "$cur"))
        return
        ;;
    --song | -j | --jobs | --rate | --channels | --length | --fade)
        return # a number
        ;;
    esac

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$(_pellan_decode_options "${COMP_WORDS[0]}")" -- "$cur"))
        return
    fi
    compopt -o filenames 2>/dev/null
    COMPREPLY=($(compgen -f -- "$cur"))
}
complete -F _pellan_decode pellan-decode
