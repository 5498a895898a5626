# bash completion for npk, the Kestavin package tool.
# The options of each command are exactly those its --help lists
# (tools/npk/completion_test.cc compares them).
_npk() {
  local cur prev words cword
  _init_completion || return
  local commands="build bundle info ls verify field diff extract resign keygen pubkey trusted
                  simulate root"
  if [[ $cword -eq 1 ]]; then
    COMPREPLY=($(compgen -W "$commands --help" -- "$cur"))
    return
  fi
  local command=${words[1]}
  local signing="--sign --key --legacy-key"
  local header="-d --description -o --output --name --version --build-time --architecture --note
                --flags --boot-image --no-meta --image --unrecorded"
  local options
  case $command in
    build)
      options="$header $signing --skip-special --depends --provides --conflicts --files --skip
               --digest" ;;
    bundle) options="$header $signing --trailing-architecture" ;;
    info|verify) options="--secure --trust --json" ;;
    ls) options="--digest --json" ;;
    diff|trusted|pubkey) options="--json" ;;
    extract) options="--secure --trust --no-verify" ;;
    resign) options="$signing -o --output" ;;
    keygen) options="--scheme -o --output" ;;
    simulate) options="--json --stream --installer" ;;
    root) options="--arch --board" ;;
    *) options="" ;;
  esac
  # The value of an option the command takes.
  if [[ $prev == -* && " $options " == *" $prev "* ]]; then
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
        if [[ $command == build ]]; then
          COMPREPLY=($(compgen -W "sha256 sha1" -- "$cur"))
          return
        fi ;;
      --name|--version|--build-time|--architecture|--note|--flags|--depends|--provides|\
      --conflicts|--skip|--trailing-architecture|--arch|--board)
        return ;;
    esac
  fi
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
    root)
      if [[ ${words[*]:2:cword-2} != *init* ]]; then
        COMPREPLY=($(compgen -W "init" -- "$cur"))
      else
        _filedir -d
      fi ;;
    simulate|pubkey) _filedir ;;
    *) _filedir '@(npk|dpk)' ;;
  esac
}
complete -F _npk npk
