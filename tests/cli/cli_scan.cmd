# One value of a plain file is found by scanning it; the answer is the whole read's (here of
# standard input), under the repeat policies and case rule too.
printf '\357\273\277[Player]\r\nGold = 10\r\n[player]\r\ngold="20"\r\n' >r.ini
vellix get r.ini player gold; vellix get - player gold <r.ini
vellix get r.ini PLAYER GOLD --group-repeat first --format=lines; vellix get - PLAYER GOLD --group-repeat first --format=lines <r.ini
vellix get r.ini player gold --case-sensitive --quote; vellix get - player gold --case-sensitive --quote <r.ini
vellix get r.ini player none; vellix get r.ini none x; vellix get r.ini none x --default d
# What the scan cannot answer for certain is read whole, with the whole read's message.
printf '[g]\nk=1\001\n' >c.ini
vellix get c.ini g k
vellix get r.ini player gold --newline lf
