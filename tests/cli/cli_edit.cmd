# set creates the file, the group and the item; the object reads what the tool wrote.
vellix set new.ini player name Ann
vellix set new.ini player gold -5
vellix set new.ini player gold 150 --backup
sed -n l new.ini.bak; sed -n l new.ini
printf 'object o basefolder=1 file="new.ini" loaddefault=1\nexpr o 9 "player" "gold" "none"\n' | vellix-run -
# The permission bits are kept and a symbolic link is followed.
chmod 640 new.ini; ln -s new.ini link.ini; vellix set link.ini world level 3 --backup
ls -l new.ini link.ini link.ini.bak | cut -c1-10
vellix list new.ini
# Enclosing quotes survive (the object's writer quotes such a value); a value the file's
# format cannot hold is refused, and nothing is written.
vellix set new.ini player note '"quoted"'; vellix get new.ini player note
vellix set new.ini player note "$(printf 'two\nlines')"
vellix set new.ini player note "$(printf 'two\r\nlines')" --escape-values
vellix get new.ini player note --escape-values | od -An -c
# del: an item, a group; exit 1 when there is none.
vellix del new.ini player note
vellix del new.ini player gold
vellix del new.ini world
vellix del new.ini world
vellix get new.ini
# merge: new items only, with --overwrite, or one group into another.
cp new.ini m1.ini; vellix merge m1.ini other.ini; vellix get m1.ini --format=lines
cp new.ini m2.ini; vellix merge m2.ini other.ini --overwrite; vellix get m2.ini --format=lines
cp new.ini m3.ini; vellix merge m3.ini other.ini --group player hero; vellix get m3.ini --format=lines
vellix merge m3.ini other.ini --group nobody hero
vellix merge m3.ini missing.ini
# convert: unpacking gives the object's plain file, packing gives the save back, byte for byte.
vellix convert save.dat plain.ini --compressed --key-file key.txt
cmp plain.ini module.ini && echo same as the object\'s plain file
VELLIX_OUT_KEY=secret vellix convert plain.ini packed.dat --out-compressed
cmp packed.dat save.dat && echo same as the object\'s packed file
vellix convert plain.ini - --out-newline lf | od -An -c
vellix convert plain.ini lf.ini --out-newline lf; vellix convert lf.ini crlf.ini --newline lf --out-newline crlf; cmp crlf.ini plain.ini && echo back to CR LF
vellix convert escaped.ini unescaped.ini --escape-values --out-no-escape-values
ls unescaped.ini
vellix convert save.dat out.ini
cmp save.dat packed.dat && echo a failed convert leaves its input as it was
# JSON out and back in gives the same bytes, also for a value that is not UTF-8.
vellix get save.dat --compressed --key-file key.txt --format=json > save.json; cat save.json
vellix import-json copy.dat save.json --compressed --key-file key.txt --replace; cmp copy.dat save.dat && echo same bytes
vellix get plain.ini --format=json --encoding latin1 | vellix import-json latin.ini - --encoding latin1 --replace --newline crlf; cmp latin.ini plain.ini && echo same bytes
echo '{"name": "Cid", "gold": 12}' | vellix import-json copy.dat - --group player --compressed --key-file key.txt
vellix get copy.dat player --compressed --key-file key.txt --format=lines
echo '{"g": {"i": true}}' | vellix import-json copy.dat - --compressed --key-file key.txt
echo '{"g": [1, 2' | vellix import-json copy.dat - --compressed --key-file key.txt
echo '{"g": {"i": {"latin1": "\u0100"}}}' | vellix import-json copy.dat - --compressed --key-file key.txt
# Edits never act on a file that was not read whole, nor on a folder.
vellix set save.dat player name Eve --compressed
vellix del save.dat player name
cmp save.dat packed.dat && echo unchanged
mkdir folder; vellix set folder g i v
vellix set new.ini g i v --backup --key-file missing.key
