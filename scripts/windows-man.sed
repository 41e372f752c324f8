# The man pages' commands as a Windows user types them (cmd.exe, with
# PowerShell where cmd has no such tool), applied by scripts/windows-zip.sh
# before the pages are rendered as text. The installed paths are put as the
# zip has them there too.
s|/usr/local/share/phonoskew/examples/coefficients/reference/|<phonoskew\\-folder>\\eexamples\\ecoefficients\\ereference\\e|g
s|/usr/local/share/phonoskew/examples/coefficients/|<phonoskew\\-folder>\\eexamples\\ecoefficients\\e|g
s|/usr/local/share/phonoskew/examples/|<phonoskew\\-folder>\\eexamples\\e|g
s|/usr/local/share/doc/phonoskew/accepted\\-files\.md|<phonoskew\\-folder>\\eaccepted\\-files.txt|g
s|\.\./share/phonoskew/examples/coefficients|examples\\ecoefficients|g
s|^\.I README\.md$|.I README.txt|
# Copies: the example sets into the current folder, a recording beside them.
s|^cp \(<phonoskew.*\)\*\.dat \.$|copy "\1*.dat" .|
s|^ln \\-s \.\./take1\.wav take1\.wav$|copy ..\\etake1.wav take1.wav|
s|~/music/|%USERPROFILE%\\eMusic\\e|g
s|^cd \.\.$|cd ..|
# Filters of text: findstr for grep.
s/ 2>&1 | grep \\(aq\(.*\)\\(aq$/ 2>\&1 | findstr \/c:"\1"/
# The header's first 44 bytes, and CR LF line ends, through PowerShell.
s#^xxd \\-l 44 out\.wav$#powershell \-c "Format\-Hex out.wav | Select\-Object \-First 3"#
s#^\.B "sed \\-i 's/\$/\\er/' FO\.dat"$#.B "powershell \-c \\(dq(Get\-Content FO.dat) | Set\-Content FO.dat\\(dq"#
# The shell loop over a folder: examples\batch.bat does the same.
/^for f in \*\.wav; do$/,/^done$/c\
examples\\ebatch.bat C:\\eMusic\\eriaa
s|^A shell loop runs$|The batch file examples\\ebatch.bat runs|
# Ctrl-Z: a Windows console's end of input, not a terminal's stop.
s/^Ctrl\\-D on an empty line leaves the program,/Ctrl\\-Z (or Ctrl\\-D) on an empty line leaves the program,/
/^Ctrl\\-Z stops the program as it stops any program in a terminal, at the$/,/^continues the program and draws its screen again\.$/d
s/^keyboard; Ctrl\\-Z suspends it\.$/keyboard./
/^Ctrl\\-Z or$/,/^and redraws the screen\.$/d
