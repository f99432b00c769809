#!/usr/bin/zsh -f
# Prints, one a line, what zsh's completion offers at the end of a command line, with the
# completion functions of a folder first in fpath:
#   zsh_complete.zsh FOLDER LINE DUMP
# DUMP is compinit's dump file: made by the first call, read by the next ones (reading is much
# quicker than scanning every completion function again).
# An interactive zsh on a pseudo-terminal gets LINE and a Tab; its compadd is wrapped to print
# the matches it is given, marked so they can be told from the terminal's echo, and the
# completion ends the shell once it is done.
zmodload zsh/zpty
local folder=$1 line=$2 dump=$3 out chunk
zpty completing zsh -f -i
zpty -w completing "PS1= RPROMPT= PS2="
zpty -w completing "fpath=(${(q)folder} \$fpath); autoload -Uz compinit; compinit -u -d ${(q)dump}"
zpty -w completing "bindkey '^I' complete-word"
# Matches a caller only collects (-O, -A, -D) are not offered, so they are not printed.
zpty -w completing 'compadd() { if [[ -z ${(M)@:#-[OAD]} ]]; then local -a m; builtin compadd -O m "$@"; (( $#m )) && print -rl -- "" "=""="${^m}; fi; builtin compadd "$@"; }'
zpty -w completing 'done-completing() { print -r -- "" "@@@""DONE"; exit }; comppostfuncs=(done-completing)'
zpty -w -n completing "$line"$'\t'
out=
while zpty -r completing chunk; do
  out+=$chunk
  [[ $out == *'@@@DONE'* ]] && break
done
zpty -d completing
print -rl -- ${${(M)${(f)out//$'\r'/}:#==*}#==}
