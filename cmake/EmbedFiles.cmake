# Writes a C++ source that returns the bytes of every file in a folder, so the program carries
# the sample station with it: halvik_embedded_files(OUTPUT <cpp> FUNCTION <name> DIR <folder>).
function(halvik_embed_files)
  cmake_parse_arguments(ARG "" "OUTPUT;FUNCTION;DIR" "" ${ARGN})
  file(GLOB files CONFIGURE_DEPENDS ${ARG_DIR}/*)
  list(SORT files)
  set(body "")
  foreach(path ${files})
    get_filename_component(name ${path} NAME)
    file(READ ${path} hex HEX)
    string(LENGTH "${hex}" hexLength)
    math(EXPR length "${hexLength} / 2")
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "\\\\x\\1" escaped "${hex}")
    set(executable false)
    if(name MATCHES "\\.exe$")
      set(executable true)
    endif()
    string(APPEND body "      {\"${name}\", std::string(\"${escaped}\", ${length}), ${executable}},\n")
  endforeach()
  file(CONFIGURE OUTPUT ${ARG_OUTPUT} CONTENT "// Generated from ${ARG_DIR}; do not edit.
#include \"app/EmbeddedFile.h\"

namespace halvik {

std::vector<EmbeddedFile> ${ARG_FUNCTION}() {
  return {
${body}  };
}

}  // namespace halvik
")
endfunction()
