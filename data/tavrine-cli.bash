# Bash completion for tavrine-cli: options, and files or folders wherever a path belongs.
_tavrine_cli() {
  local cur prev words cword split
  _init_completion -s || return
  case $prev in
    -o | --output | --verify | --list)
      _filedir iso
      return
      ;;
    -V | --volume-id | --system-id | -sysid | -A | --application-id | -appid | --publisher | \
      -publisher | -p | --preparer | --volume-set | -volset | --pattern | --date)
      return
      ;;
  esac
  $split && return
  case $cur in
    -*)
      COMPREPLY=($(compgen -W '-o --output -V --volume-id --system-id -sysid -A --application-id
        -appid --publisher -publisher -p --preparer --volume-set -volset --no-joliet -J
        --pattern --date --print-size --verify --list -q --quiet --version -h --help' -- "$cur"))
      return
      ;;
  esac
  _filedir
}
complete -F _tavrine_cli tavrine-cli
