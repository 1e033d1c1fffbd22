# Bash completion for the Tessary host tools: sensortrim, hubctl, hubtable,
# fwlogtap, fwlogsetup and calreport. Installed once per command name, so that
# bash-completion loads it for whichever of them is completed first.

# Candidates for the current word from a word list; a word list starting with
# '-' matches without regard to case, as the tools do.
_tessary_words() {
    local cur=$1; shift
    local IFS=$'\n'
    COMPREPLY=($(compgen -W "$*" -- "$cur"))
    if [ ${#COMPREPLY[@]} -eq 0 ] && [ -n "$cur" ]; then
        local word lower=${cur,,}
        for word in $*; do
            [[ ${word,,} == "$lower"* ]] && COMPREPLY+=("$word")
        done
    fi
}

_tessary_files() {
    local IFS=$'\n'
    COMPREPLY=($(compgen -f -- "$1"))
    compopt -o filenames 2>/dev/null
}

_tessary_dirs() {
    local IFS=$'\n'
    COMPREPLY=($(compgen -d -- "$1"))
    compopt -o filenames 2>/dev/null
}

_sensortrim() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
    case ${prev,,} in
        -importxml|-exportxml|-auto) _tessary_files "$cur"; return ;;
        -exportallfiles|-userawdata) _tessary_dirs "$cur"; return ;;
        -calibrate|-calibrateoffline|-testcalibration)
            _tessary_words "$cur" $'A\nG\nM\nAG\nAM\nGM\nAGM\nALS'; return ;;
        -dumpprefix) COMPREPLY=(dataDump); return ;;
    esac
    _tessary_words "$cur" $'-ImportXml\n-ExportXml\n-Calibrate\n-CalibrateOffline\n-TestCalibration\n-MagTest\n-ExportAllFiles\n-UseRawData\n-DumpPrefix\n-UpdateTSY\n-Auto\n-Minimal\n-FourSteps\n-MagAccuracyTest\n-CheckVsOriginalAxis\n-PrimaryOnly\n-NoEnter\n-NoGyroRotation'
}

_hubctl() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
    case ${prev,,} in
        -setpdt|-getpdt) _tessary_files "$cur"; return ;;
        -test|-luid|-calibrate) return ;;
    esac
    _tessary_words "$cur" $'-INFO\n-BIST\n-PDT\n-I2C\n-h\n-EXP\n-ERRLIST\n-VER\n-BOM\n-Verbose\n-Page\n-Test\n-All\n-LUID\n-SetPDT\n-GetPDT\n-Calibrate\n-UpdatePDT'
}

_hubtable() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
    case ${prev,,} in
        -setpdt|-getpdt) _tessary_files "$cur"; return ;;
        -test) return ;;
    esac
    _tessary_words "$cur" $'-SetPDT\n-GetPDT\n-Test'
}

_fwlogtap() {
    local cur=${COMP_WORDS[COMP_CWORD]}
    if [ "$COMP_CWORD" -eq 1 ]; then
        _tessary_words "$cur" DOXI
        return
    fi
    _tessary_words "$cur" $'continuous\nflush\n/d'
    [ ${#COMPREPLY[@]} -eq 0 ] && _tessary_files "$cur"
}

_fwlogsetup() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
    case ${prev,,} in
        -setconfig) _tessary_files "$cur"; return ;;
        -connectiontype) _tessary_words "$cur" DOXI; return ;;
        -getconfig) _tessary_words "$cur" header; return ;;
    esac
    _tessary_words "$cur" $'-setConfig\n-getConfig\nvolatile\n-connectionType'
}

_calreport() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
    case $prev in
        -o|--output|--json|--store|--fleet) _tessary_files "$cur"; return ;;
        --device-id|--station|--operator|--since|--days) return ;;
    esac
    if [[ $cur == -* ]]; then
        _tessary_words "$cur" $'-o\n--output\n--json\n--store\n--fleet\n--since\n--days\n--device-id\n--station\n--operator\n-h\n--help'
    else
        _tessary_dirs "$cur"
    fi
}

complete -F _sensortrim sensortrim
complete -F _hubctl hubctl
complete -F _hubtable hubtable
complete -F _fwlogtap fwlogtap
complete -F _fwlogsetup fwlogsetup
complete -F _calreport calreport
