# bash completion for installers: their options. Each package has a name of
# its own, which a vendor's users add, once this file is sourced, with:
# complete -o filenames -F _zkinstall NAME
_zkinstall() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]} word
    # After --, the words are the programs' and scripts', not the installer's.
    for word in "${COMP_WORDS[@]:1:COMP_CWORD-1}"; do
        [[ $word == -- ]] && return
    done
    case $prev in
        --target | --extract) COMPREPLY=($(compgen -d -- "$cur")); return ;;
        --pubkey | --signature) COMPREPLY=($(compgen -f -- "$cur")); return ;;
        -program) return ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W '--target --yes --accept --quiet --check --list --info --extract --pubkey --signature
                                  --help -h -help --version -d -gz -program --' -- "$cur"))
    fi
}
complete -o filenames -F _zkinstall zkinstall zkinstall-x86_64 zkinstall-aarch64 zkinstall-i686
