# vellix edit: the editor gets the plain text, in a private folder, as a file only its owner
# may read; the save is written back packed, and the plain text is gone afterwards.
printf '#!/bin/sh\necho "$1" > where\nls -ld "${1%%/*}" "$1" | cut -c1-10\ncat "$1"\nsed -i s/gold=5/gold=9/ "$1"\n' > ed.sh; chmod +x ed.sh
EDITOR=./ed.sh vellix edit save.dat --compressed --key-file key.txt
vellix get save.dat player gold --compressed --key-file key.txt
test -e "$(cat where)" || echo the plain text is removed
test -e "$(dirname "$(cat where)")" || echo and its folder
# Unchanged text, a failing editor, an edit that would lose a line: nothing is written.
cp save.dat before.dat
EDITOR=true vellix edit save.dat --compressed --key-file key.txt; cmp save.dat before.dat && echo unchanged
EDITOR=false VISUAL= vellix edit save.dat --compressed --key-file key.txt; cmp save.dat before.dat && echo unchanged
printf '#!/bin/sh\necho "$1" > where\nprintf "gold=1\\ngold=2\\n" >> "$1"\n' > dup.sh; chmod +x dup.sh
VISUAL=./dup.sh vellix edit save.dat --compressed --key-file key.txt; cmp save.dat before.dat && echo unchanged
test -e "$(cat where)" || echo the plain text is removed
VISUAL=./dup.sh vellix edit save.dat --compressed --key-file key.txt --force; vellix get save.dat player --compressed --key-file key.txt
