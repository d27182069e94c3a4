# --backup replaces whatever stands at FILE.bak: a planted symbolic link is replaced, and the
# file it points to keeps its bytes and its mode.
printf '[a]\nx=1\n' > f.ini; printf 'private\n' > private.txt; chmod 600 private.txt
ln -s private.txt f.ini.bak; vellix set f.ini a x 2 --backup
cat private.txt; ls -l private.txt | cut -c1-10; test -L f.ini.bak || cat f.ini.bak
# Writers of one file wait for each other: no update is lost.
for n in 1 2 3 4; do (for i in 1 2 3 4 5 6 7 8 9 10; do vellix set c.ini g k$n-$i v || echo failed; done) & done; wait; vellix list c.ini g | wc -l
for n in 1 2 3 4; do (for i in 1 2 3 4 5; do vellix set new$n.ini g k$i v; done; vellix del new$n.ini g k1) & done; wait; cat new1.ini new4.ini
# A writer that holds the file too long: the next gives up after --lock-wait, with exit 4.
flock c.ini vellix set c.ini g k v --lock-wait 0.2
flock . vellix set made.ini g k v --lock-wait 0.2; ls made.ini
vellix get c.ini g k
