[playlist]
File1=near.mp3
Length1=0x10
Title1="quoted \"title\"\r\nFile2=x"
Author1=Au#thor
File2=/elsewhere/ÿþ.ogg
Length2=abc
File3=C:\Music\c.mp3
NumberOfEntries=2147483647
Version=2
autoplay=1
ExternalPlaylist=/lists/x.pls
