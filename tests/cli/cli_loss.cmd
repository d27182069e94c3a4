# Files the object did not write: a line the reader skips, folds or overrides is named, and
# no write acts on such a file unless --force says so.
printf '[metadata]\nname = demo\nclassifiers =\n    Topic :: Games\n' > setup.cfg
printf '[mypy]\nstrict: true\n' > colon.ini
printf '[a]\nbare\n' > bare.ini
printf '[Service]\nExecStart=/bin/a\nExecStart=/bin/b\n' > unit.service
printf '[a]\nx=1\n[b]\ny=2\n[a]\nz=3\n' > groups.ini
printf '[options]\npackage_dir =\n    = src\n' > pkg.cfg
vellix check setup.cfg colon.ini bare.ini unit.service groups.ini pkg.cfg
vellix check unit.service --format=json
vellix set setup.cfg metadata name other
vellix set colon.ini mypy strict false
vellix del bare.ini a x
vellix set unit.service Service Type simple
vellix merge groups.ini groups.ini
vellix convert pkg.cfg out.ini; ls out.ini
cat setup.cfg unit.service
# Reading only is no loss; the option named keeps every value; --force writes anyway.
vellix get unit.service Service ExecStart
vellix set unit.service Service Type simple --item-repeat rename --save-original; cat unit.service
vellix set bare.ini a x 1 --force; cat bare.ini
# Told LF where the lines end in CR LF, the tool says so instead of losing every header.
printf '[]\r\nvolume=7\r\n[audio]\r\nmuted=0\r\n' > n.ini
vellix set n.ini audio muted 1 --newline lf
vellix get n.ini audio muted --newline lf
vellix set n.ini audio muted 1; od -An -c n.ini
