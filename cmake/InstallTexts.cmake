# Runs at install time, so that `cmake --install build --prefix DIR` is
# honoured: installs the man pages and the examples' README with the paths
# of this install in place of the ones they name for a default install
# (/usr/local/..., and build/tools/ of a source tree), so that the installed
# texts name only installed paths and commands. A path that holds a
# blank is put in double quotes, which serve both as one man macro argument
# and as one shell word in the pages' and the README's commands.
#
# Set by the install(CODE) before it: PHONOSKEW_SOURCE_DIR, the
# GNUInstallDirs folders PHONOSKEW_BINDIR, PHONOSKEW_DATADIR, PHONOSKEW_MANDIR,
# and PHONOSKEW_PREPARE_BUILT and PHONOSKEW_LISTEN_BUILT (1 when
# phonoskew-prepare or phonoskew-listen was built, so its page comes with it).

function(phonoskew_full_path result folder)
  if(IS_ABSOLUTE "${folder}")
    set(${result} "${folder}" PARENT_SCOPE)
  else()
    set(${result} "${CMAKE_INSTALL_PREFIX}/${folder}" PARENT_SCOPE)
  endif()
endfunction()

# `folder` followed by `inside` as the text of a man page or of the Markdown
# README, quoted when it holds a blank. In a man page the folder's
# backslashes and minus signs are escaped; `inside`, taken from the page,
# is so already.
function(phonoskew_path_text result folder inside roff)
  if(roff)
    string(REPLACE "\\" "\\e" folder "${folder}")
    string(REPLACE "-" "\\-" folder "${folder}")
  endif()
  set(path "${folder}${inside}")
  if(path MATCHES "[ \t]")
    set(path "\"${path}\"")
  endif()
  set(${result} "${path}" PARENT_SCOPE)
endfunction()

phonoskew_full_path(bin_dir "${PHONOSKEW_BINDIR}")
phonoskew_full_path(data_dir "${PHONOSKEW_DATADIR}")
phonoskew_full_path(man_dir "${PHONOSKEW_MANDIR}")

# Writes the value of the variable `text_variable` as `name` in `folder` of
# the install, and lists it in the install manifest as the install's own
# rules do.
function(phonoskew_install_text folder name text_variable)
  set(file "$ENV{DESTDIR}${folder}/${name}")
  message(STATUS "Installing: ${file}")
  file(WRITE "${file}" "${${text_variable}}")
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${file}")
  set(CMAKE_INSTALL_MANIFEST_FILES "${CMAKE_INSTALL_MANIFEST_FILES}" PARENT_SCOPE)
endfunction()

# Man pages: each path under /usr/local/ (up to a blank, a quote or a '*',
# so that a command's glob stays outside the quotes) becomes the same path
# under this install's folders.
set(pages phonoskew.1 phonoskew-design.1 phonoskew-demo-signal.1)
if(PHONOSKEW_PREPARE_BUILT)
  list(APPEND pages phonoskew-prepare.1)
endif()
if(PHONOSKEW_LISTEN_BUILT)
  list(APPEND pages phonoskew-listen.1)
endif()
foreach(page ${pages})
  file(READ "${PHONOSKEW_SOURCE_DIR}/man/${page}" rest)
  set(text "")
  while(rest MATCHES "/usr/local/(bin|share)/[^ \t\n\"*]*")
    set(token "${CMAKE_MATCH_0}")
    set(folder "${CMAKE_MATCH_1}")
    string(FIND "${rest}" "${token}" at)
    string(SUBSTRING "${rest}" 0 ${at} before)
    string(LENGTH "${token}" length)
    math(EXPR after "${at} + ${length}")
    string(SUBSTRING "${rest}" ${after} -1 rest)
    string(LENGTH "/usr/local/${folder}" prefix_length)
    string(SUBSTRING "${token}" ${prefix_length} -1 inside)
    if(folder STREQUAL "bin")
      phonoskew_path_text(path "${bin_dir}" "${inside}" ON)
    else()
      phonoskew_path_text(path "${data_dir}" "${inside}" ON)
    endif()
    string(APPEND text "${before}${path}")
  endwhile()
  string(APPEND text "${rest}")
  phonoskew_install_text("${man_dir}/man1" "${page}" text)
endforeach()

# Takes out of `text_variable` every passage between a line
# "<!-- sources only -->" and a line "<!-- end of sources only -->", the two
# lines included: what only a reader of the source tree can follow (how the
# files are built and tested there).
function(phonoskew_drop_sources_only text_variable)
  set(text "${${text_variable}}")
  set(begin "<!-- sources only -->\n")
  set(end "<!-- end of sources only -->\n")
  string(LENGTH "${end}" end_length)
  string(FIND "${text}" "${begin}" at)
  while(NOT at EQUAL -1)
    string(SUBSTRING "${text}" 0 ${at} before)
    string(SUBSTRING "${text}" ${at} -1 rest)
    string(FIND "${rest}" "${end}" stop)
    if(stop EQUAL -1)
      message(FATAL_ERROR "a sources-only passage without its end line")
    endif()
    math(EXPR after "${stop} + ${end_length}")
    string(SUBSTRING "${rest}" ${after} -1 rest)
    set(text "${before}${rest}")
    string(FIND "${text}" "${begin}" at)
  endwhile()
  set(${text_variable} "${text}" PARENT_SCOPE)
endfunction()

# The examples' README: its commands run the installed designer and copy
# the installed sets; what concerns the source tree alone is left out.
file(READ "${PHONOSKEW_SOURCE_DIR}/examples/README.md" text)
phonoskew_drop_sources_only(text)
phonoskew_path_text(designer "${bin_dir}" "/phonoskew-design" OFF)
phonoskew_path_text(sets "${data_dir}" "/phonoskew/examples/coefficients/" OFF)
string(REPLACE "build/tools/phonoskew-design" "${designer}" text "${text}")
string(REPLACE "cp examples/coefficients/" "cp ${sets}" text "${text}")
phonoskew_install_text("${data_dir}/phonoskew/examples" "README.md" text)
