# bash completion for zkpack: its commands, then each command's options and
# the values some of them take.
_zkpack() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    if ((COMP_CWORD == 1)); then
        COMPREPLY=($(compgen -W 'create list verify cat keygen sign --help --version' -- "$cur"))
        return
    fi
    local options
    case ${COMP_WORDS[1]} in
        create)
            options='-o --arch --stub --default-dir --compress -j --quiet --sign --password-file --product
                     --product-version --license --ignore-script-status --env --welcome --tree --archive --script
                     --program --record --help' ;;
        verify) options='--pubkey -P --signature --help' ;;
        keygen) options='-p -s -W --password-file --help' ;;
        sign) options='-s -t --password-file --help' ;;
        list | cat) options='--help' ;;
        *) return ;;
    esac
    case $prev in
        --arch) COMPREPLY=($(compgen -W 'x86_64 aarch64 i686' -- "$cur")); return ;;
        --compress) COMPREPLY=($(compgen -W 'bzip2 zstd xz' -- "$cur")); return ;;
        --tree | --default-dir) COMPREPLY=($(compgen -d -- "$cur")); return ;;
        # Values that are not file names.
        --env | --product | --product-version | -j | -t | -P | --record) return ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
    else
        COMPREPLY=($(compgen -f -- "$cur"))
    fi
}
complete -o filenames -F _zkpack zkpack
