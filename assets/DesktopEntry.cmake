# Writes quindel.desktop, the application-menu entry, into the installed program folder. Run by
# `cmake --install` with QUINDEL_INSTALL_DIR set; a relative prefix is taken from the folder
# the install runs in, so Exec and Icon always hold absolute paths. KWin lets the program that
# Exec names send clicks (fake input) because of the entry's last line, once the entry lies in
# an applications folder KWin reads.
get_filename_component(prefix "${CMAKE_INSTALL_PREFIX}" ABSOLUTE)
cmake_path(ABSOLUTE_PATH QUINDEL_INSTALL_DIR BASE_DIRECTORY "${prefix}" NORMALIZE
           OUTPUT_VARIABLE folder)
string(REGEX REPLACE "(.)/$" "\\1" folder "${folder}")

# Exec: the program in double quotes, with \ " ` $ escaped inside them and % doubled. Then, as
# in every value of the file, each backslash is doubled.
set(exec "${folder}/quindel")
foreach(special "\\" "\"" "`" "$")
  string(REPLACE "${special}" "\\${special}" exec "${exec}")
endforeach()
string(REPLACE "%" "%%" exec "${exec}")
string(REPLACE "\\" "\\\\" exec "\"${exec}\"")
string(REPLACE "\\" "\\\\" icon "${folder}/quindel.png")

set(entry "$ENV{DESTDIR}${folder}/quindel.desktop")
message(STATUS "Installing: ${entry}")
file(WRITE "${entry}" "[Desktop Entry]
Type=Application
Name=Quindel
Comment=Turns MIDI commands and PC keys into mouse clicks at stored points of the screen
Comment[it]=Trasforma comandi MIDI e tasti del PC in clic del mouse in punti memorizzati dello schermo
Exec=${exec}
Icon=${icon}
Terminal=false
Categories=AudioVideo;Audio;Midi;
X-KDE-Wayland-Interfaces=org_kde_kwin_fake_input
")
list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${entry}")
