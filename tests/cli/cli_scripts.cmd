# What scripts reach for: a default for what is not there, every value of a repeated key,
# a delete that may run twice, several assignments in one write, NUL-separated records.
printf '[Service]\nExecStart=/bin/a\nExecStart=/bin/b\nType=simple\n' > unit.service
vellix get unit.service Service User --default root
vellix get unit.service Nobody User --default root
vellix get unit.service Service ExecStart --all
# A real key named like a renamed repeat is no value of the key, whichever way the text comes.
printf '[S]\nx=1\nx.1=other key\n[S]\nx=2\n' > dotted.ini; vellix get dotted.ini S x --all; vellix get - S x --all < dotted.ini
vellix convert dotted.ini dotted.dat --out-compressed --force; vellix get dotted.dat S x --all --compressed
vellix get unit.service Service --default x
vellix set s.ini a x 1 b y 2
vellix set s.ini a x 3 b; vellix get s.ini --format=lines
vellix set s.ini a x "$(printf 'two\nlines')" b y 9; vellix get s.ini --format=lines
vellix del s.ini a x --if-exists; vellix del s.ini a x --if-exists; vellix del s.ini a x
vellix del s.ini nobody --if-exists; vellix del missing.ini a x --if-exists; ls missing.ini
vellix set s.ini 'two words' k v; vellix list s.ini -z | od -An -c
vellix find s.ini '*' '*' '*' -z | od -An -c
# check --format=json lists the files that failed, with the reason and the exit code.
mkdir folder; vellix check s.ini missing.ini folder --format=json
# An import names the group and item whose value it refuses; JSON nested too deep is refused.
echo '{"g": {"i": 1, "j": [2]}}' | vellix import-json s.ini -
(printf '%0300000d' 0 | tr 0 '['; printf '%0300000d' 0 | tr 0 ']') | vellix import-json s.ini -
# A misspelt subcommand, and help.
vellix gte s.ini
vellix help fnd
vellix help del | head -2
