# A write keeps the line ends the file had: the object's own form byte for byte, an LF file
# as LF with its last line ended.
vellix set object.ini audio volume 7; od -An -c object.ini
printf '[mypy]\nstrict = true\n\n[tool]\nx = 1\n' > mypy.ini
vellix set mypy.ini mypy strict false; od -An -c mypy.ini
printf '[a]\r\nx=1\r\n' > ended.ini; vellix del ended.ini a x; vellix set ended.ini a y 2; od -An -c ended.ini
# A new file, and standard output, take LF unless --newline crlf asks for the object's form.
vellix set new.ini g i v; od -An -c new.ini
vellix set object-form.ini g i v --newline crlf; od -An -c object-form.ini
vellix get object.ini --format=ini | od -An -c
vellix convert object.ini - | od -An -c
vellix convert object.ini - --out-newline crlf | od -An -c
# --newline converts an existing file.
vellix set mypy.ini mypy strict true --newline crlf; od -An -c mypy.ini
# A large file goes out in pieces as it is written; every line end of every piece is converted,
# and the read-back check of a value the output cannot hold finds it in a late slice.
awk 'BEGIN { printf "[g]\r\n"; for (i = 0; i < 40000; i++) printf "item%d=value %d\r\n", i, i; printf "[h]\r\nx=1\\nline\r\n" }' > large.ini
vellix convert large.ini large-lf.ini --out-newline lf; tr -d '\r' < large.ini | cmp - large-lf.ini && echo same
vellix convert large-lf.ini large-crlf.ini --newline lf --out-newline crlf; cmp large.ini large-crlf.ini && echo same
vellix convert large.ini escaped.ini --escape-values --out-no-escape-values; ls escaped.ini
vellix convert large.ini - --out-compressed | vellix convert - - --compressed | cmp - large-lf.ini && echo same
