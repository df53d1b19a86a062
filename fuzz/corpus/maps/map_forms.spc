# special characters
5C \\backslash
26 "\\&"
2014 ---
0x2013 --
22 "\""
27 '\''
28 (a(b)
5B [x]
7B {y}
A0 \ 
41 "\0101\t\n\r\b"
2022 ""
