# SPDX-License-Identifier: MIT
# fish completion for vexalo4-cli
set -l commands replace restore undo help
complete -c vexalo4-cli -f
complete -c vexalo4-cli -n "not __fish_seen_subcommand_from $commands" -a replace -d 'Replace a text in files'
complete -c vexalo4-cli -n "not __fish_seen_subcommand_from $commands" -a restore -d 'Put the .old backups back'
complete -c vexalo4-cli -n "not __fish_seen_subcommand_from $commands" -a undo -d 'Take back the last replace run'
complete -c vexalo4-cli -n "not __fish_seen_subcommand_from $commands" -a help -d 'Help on a command'
complete -c vexalo4-cli -n "not __fish_seen_subcommand_from $commands" -s V -l version -d 'Print the version'
complete -c vexalo4-cli -n "__fish_seen_subcommand_from help" -a 'replace restore undo'

set -l rep "__fish_seen_subcommand_from replace"
complete -c vexalo4-cli -n $rep -s f -l find -x -d 'The text to find'
complete -c vexalo4-cli -n $rep -s w -l with -x -d 'The text to put in its place'
complete -c vexalo4-cli -n $rep -s F -l find-file -r -F -d 'Take the find text from a file'
complete -c vexalo4-cli -n $rep -s W -l with-file -r -F -d 'Take the replacement from a file'
complete -c vexalo4-cli -n $rep -s e -l regex -d 'The find text is a regular expression'
complete -c vexalo4-cli -n $rep -s c -l case-sensitive -d 'Match case exactly'
complete -c vexalo4-cli -n $rep -s b -l backup -d 'Keep each changed file\'s old content as NAME.old'
complete -c vexalo4-cli -n $rep -s t -l trim -d 'Remove line breaks from the end of both texts'
complete -c vexalo4-cli -n $rep -s n -l dry-run -d 'Write nothing; print what a replace would do'
complete -c vexalo4-cli -n $rep -l exact-breaks -d 'Line breaks exactly as given, not the file\'s'
complete -c vexalo4-cli -n $rep -s p -l protect -x -d 'The protected-extension list to use'
complete -c vexalo4-cli -n $rep -l no-journal -d 'Keep nothing for undo'
complete -c vexalo4-cli -n "__fish_seen_subcommand_from undo" -s l -l list -d 'List the runs in the journal'

set -l run "__fish_seen_subcommand_from replace restore undo"
complete -c vexalo4-cli -n $run -s q -l quiet -d 'Print only the lines of files that failed'
complete -c vexalo4-cli -n $run -l paths -d 'Name each file as given'
complete -c vexalo4-cli -n $run -l no-progress -d 'No progress line on the terminal'
complete -c vexalo4-cli -n $run -l sync -x -a 'end each' -d 'When the changes are put on the disk'
complete -c vexalo4-cli -s h -l help -d 'Print the help'
complete -c vexalo4-cli -n "__fish_seen_subcommand_from replace restore" -F
