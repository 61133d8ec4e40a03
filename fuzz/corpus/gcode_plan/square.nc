%
(square with a plunge)
N10 G00 Z5
N20 G00 X10 Y5
N30 G01 Z-1 F100
G01 X20
Y15 F250
X10
G00 Z5
M30
