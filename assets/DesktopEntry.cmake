# Writes quindel.desktop, the application-menu entry. Run by `cmake --install` (and by CPack)
# with QUINDEL_INSTALL_DIR set, and optionally:
#   QUINDEL_DESKTOP_ENTRY  where the entry goes: an absolute path, or by default
#                          quindel.desktop in the installed program folder;
#   QUINDEL_DESKTOP_ICON   the icon: a name of the icon theme, or by default the absolute path
#                          of quindel.png in the program folder.
# A relative prefix is taken from the folder the install runs in, so Exec always holds an
# absolute path: KDE offers its fake-input protocol only to the program its entry names.
get_filename_component(prefix "${CMAKE_INSTALL_PREFIX}" ABSOLUTE)
cmake_path(ABSOLUTE_PATH QUINDEL_INSTALL_DIR BASE_DIRECTORY "${prefix}" NORMALIZE
           OUTPUT_VARIABLE folder)
string(REGEX REPLACE "(.)/$" "\\1" folder "${folder}")

# Exec: the program, in double quotes when it holds a character the entry format reserves,
# with \ " ` $ escaped inside them; % doubled. Then, as in every value of the file, each
# backslash is doubled.
set(exec "${folder}/quindel")
set(reserved " \t\n\"'\\><~|&$*?#()`")
string(LENGTH "${reserved}" count)
string(FIND "${exec}" ";" quote)
math(EXPR last "${count} - 1")
foreach(i RANGE ${last})
  string(SUBSTRING "${reserved}" ${i} 1 special)
  string(FIND "${exec}" "${special}" at)
  if(at GREATER_EQUAL 0)
    set(quote ${at})
  endif()
endforeach()
if(quote GREATER_EQUAL 0)
  foreach(special "\\" "\"" "`" "$")
    string(REPLACE "${special}" "\\${special}" exec "${exec}")
  endforeach()
  set(exec "\"${exec}\"")
endif()
string(REPLACE "%" "%%" exec "${exec}")
string(REPLACE "\\" "\\\\" exec "${exec}")

if(QUINDEL_DESKTOP_ICON)
  set(icon "${QUINDEL_DESKTOP_ICON}")
else()
  string(REPLACE "\\" "\\\\" icon "${folder}/quindel.png")
endif()
if(QUINDEL_DESKTOP_ENTRY)
  set(entry "$ENV{DESTDIR}${QUINDEL_DESKTOP_ENTRY}")
else()
  set(entry "$ENV{DESTDIR}${folder}/quindel.desktop")
endif()

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
