# examples/README.md for the zip's examples\README.txt: its commands as a
# Windows user types them, in cmd.exe (scripts/windows-zip.sh).
/^<!-- sources only -->$/,/^<!-- end of sources only -->$/d
s|build/tools/phonoskew-design|phonoskew-design.exe|
s|^cp examples/coefficients/\*\.dat /path/to/your/work/dir/$|copy examples\\coefficients\\*.dat C:\\path\\to\\your\\work\\folder\\|
s|cp examples/coefficients/reference/|copy examples\\coefficients\\reference\\|
s|cp examples/coefficients/|copy examples\\coefficients\\|
s|^ln -s "\.\./take1\.wav" take1\.wav  *# \(.*\)$|copy ..\\take1.wav take1.wav|
/^for f in "take1 RIAA error 1\.wav"/,/^done$/c\
sox "take1 RIAA error 1.wav" -n stats 2>&1 | findstr /c:"RMS lev dB"\
sox "reference\\take1 RIAA error 1.wav" -n stats 2>&1 | findstr /c:"RMS lev dB"
s|^sox -D "reference/|sox -D "reference\\|
/^for f in \*\.wav; do$/,/^done$/c\
examples\\batch.bat C:\\Music\\riaa
s|one file a start; a shell loop runs it$|one file a start; examples\\batch.bat runs it|
s|^less its last four characters: the loop passes|less its last four characters: it passes|
s|^```sh$|```|
