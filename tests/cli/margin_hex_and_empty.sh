printf "one two three four five six seven eight nine ten eleven twelve\r" > raw.txt
echo "-- 0x10"; "$DORVEX" -b -d utf-8 -m 0x10 raw.txt
echo "-- empty"; "$DORVEX" -b -d utf-8 -m "" raw.txt
echo "-- -w"; "$DORVEX" -b -d utf-8 -w raw.txt
