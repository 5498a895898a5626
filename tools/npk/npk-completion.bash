# bash completion for npk, the Kestavin package tool.
_npk() {
  local cur prev words cword
  _init_completion || return
  local commands="build bundle info ls verify field diff extract resign keygen pubkey trusted simulate"
  if [[ $cword -eq 1 ]]; then
    COMPREPLY=($(compgen -W "$commands --help" -- "$cur"))
    return
  fi
  local command=${words[1]}
  case $prev in
    -o|--output)
      if [[ $command == keygen ]]; then _filedir -d; else _filedir; fi
      return ;;
    -d|--description|--key|--legacy-key|--trust|--stream|--installer)
      _filedir
      return ;;
    --files|--image)
      _filedir -d
      return ;;
    --sign)
      COMPREPLY=($(compgen -W "ed25519 legacy both none" -- "$cur"))
      return ;;
    --scheme)
      COMPREPLY=($(compgen -W "ed25519 legacy both" -- "$cur"))
      return ;;
    --digest)
      COMPREPLY=($(compgen -W "sha256 sha1" -- "$cur"))
      return ;;
  esac
  local options
  case $command in
    build)
      options="-d --description -o --output --sign --key --legacy-key --skip-special --name
               --version --build-time --architecture --note --flags --boot-image --no-meta
               --depends --provides --conflicts --files --image --skip --digest --unrecorded" ;;
    bundle)
      options="-d --description -o --output --name --version --build-time --architecture --note
               --flags --boot-image --no-meta --image --unrecorded --trailing-architecture" ;;
    info|verify) options="--secure --trust --json" ;;
    ls) options="--digest --json" ;;
    diff|trusted) options="--json" ;;
    extract) options="--secure --trust --no-verify" ;;
    resign) options="--key --legacy-key --sign -o --output" ;;
    keygen) options="--scheme -o --output" ;;
    simulate) options="--json --stream --installer" ;;
  esac
  if [[ $command == field && $cword -eq 3 ]]; then
    COMPREPLY=($(compgen -W "name version build-time architecture note flags depends provides
                              conflicts members" -- "$cur"))
    return
  fi
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "$options --help" -- "$cur"))
    return
  fi
  case $command in
    keygen|trusted) ;;
    simulate) _filedir ;;
    *) _filedir '@(npk|dpk)' ;;
  esac
}
complete -F _npk npk
