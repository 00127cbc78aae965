package ifneeded Vesk 4.010 [list load [file join $dir libvesk81.so] Vesk]
