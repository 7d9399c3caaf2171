# Keeps an operator's edited config.ini when the program is rebuilt.
if(NOT EXISTS "${DST}")
  configure_file("${SRC}" "${DST}" COPYONLY)
endif()
