[playlist]
File1=C:\Music\Track #1.mp3
Title1=One
Length1=215
File2=http://radio.example/live#main
NumberOfEntries=2
Version=2
