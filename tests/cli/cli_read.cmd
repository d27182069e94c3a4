# A value, a group, the whole document, in each output form.
vellix get plain.ini player gold
vellix get plain.ini PLAYER
vellix get plain.ini
vellix get plain.ini --format=lines
vellix get plain.ini player --format=ini | sed -n l
vellix get plain.ini player gold --format=json
vellix get plain.ini --format=json
vellix list plain.ini
vellix list plain.ini player --format=json
vellix get - world level < plain.ini
# Not found: exit 1, with the reason.
vellix get plain.ini player silver
vellix get plain.ini nobody
vellix list plain.ini nobody
vellix get missing.ini player gold
# A compressed and enciphered save: the key from a file or the environment.
vellix get save.dat player name --compressed --key-file key.txt
VELLIX_KEY=secret vellix get save.dat --compressed --format=json
vellix get save.dat player --compressed --key-file key.txt --format=json --encoding latin1
# Bad input: no options, no key, a wrong key, a missing or empty key file, truncated files.
vellix get save.dat player name
vellix get save.dat player name --compressed
VELLIX_KEY=wrong vellix get save.dat player name --compressed
vellix get save.dat player name --compressed --key-file nokey.txt
: > empty.key; vellix get save.dat player name --compressed --key-file empty.key
head -c 30 save.dat > cut.dat; vellix get cut.dat player name --compressed --key-file key.txt
head -c 3 save.dat > tiny.dat; vellix get tiny.dat player name --compressed --key-file key.txt
mkdir folder; vellix get folder
mkfifo fifo; vellix get fifo
# check reads each file whole and reports; the first failure sets the exit code.
vellix check plain.ini
vellix check --compressed --key-file key.txt save.dat cut.dat missing.dat
vellix check plain.ini --format=json
# find: the object's wildcard search (names fold to lower case in this file).
vellix find plain.ini '*' '*' '*'
vellix find plain.ini '*' 'G*' '*'
vellix find plain.ini '*' '*' 'ann' --case
vellix find plain.ini '*' '*' 'ann'
vellix find plain.ini 'w*' '*' '*' --groups-only
vellix find plain.ini 'nothing' 'level' '1*' --any --format=lines
vellix find plain.ini 'nothing' '*' '*'
# Escapes, a custom new line and subgroups are read as the object writes them.
vellix get escaped.ini g --escape-values --escape-names --newline '|' --format=json
vellix get escaped.ini g --escape-values --escape-names --newline '|' --format=ini
vellix get sub.ini --subgroups --format=lines
vellix list sub.ini
# Usage errors: exit 2.
vellix
vellix get
vellix frobnicate x
vellix get plain.ini --format=xml
vellix get plain.ini --group-repeat sometimes
vellix get plain.ini a b c
vellix --version
