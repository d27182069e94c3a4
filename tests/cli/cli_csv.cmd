# Export in both layouts, to a file and to standard output: the same bytes the object writes.
vellix csv export game.ini - | od -An -c
vellix csv export game.ini - --group g1
vellix csv export game.ini table.csv --table --sep ';'; cmp table.csv object.csv && echo same
# Import: a pair file into one group and per line, a table; then the object reads the result.
printf 'x,1,y,2\r\n' > pairs.csv; vellix csv import game.ini pairs.csv --group g3
printf 'g4,z,9\ng5,w\n' > lines.csv; vellix csv import game.ini lines.csv
printf 'Group;a;c\r\ng1;;5\r\ng6;7\r\n' > t.csv; vellix csv import game.ini t.csv --table --sep ';'
vellix get game.ini --format=lines
printf 'object o basefolder=1 file="game.ini" loaddefault=1\nexpr o 34 "" "|"\n' | vellix-run -
# A bad mode, a missing document, a CSV that cannot be read, a CSV with a zero byte.
vellix csv send game.ini x.csv
vellix csv export missing.ini x.csv
vellix csv import game.ini missing.csv
printf 'g7,a\0b,1\n' > zero.csv; vellix csv import game.ini zero.csv
