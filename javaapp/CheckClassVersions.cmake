# cmake -DJARS=<jar>[;<jar>...] -DMAX_MAJOR=<n> -DWORK=<dir> -P CheckClassVersions.cmake
# Fails unless every .class entry of every jar is a class file whose major
# version is at most MAX_MAJOR. The runtimes the shell accepts refuse a newer
# class with UnsupportedClassVersionError, which no test here would see: every
# VM on this machine loads them all. A jar without a single class fails too,
# so that an extraction that found nothing cannot pass as a clean jar.
foreach(var IN ITEMS JARS MAX_MAJOR WORK)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "CheckClassVersions.cmake needs -D${var}=...")
  endif()
endforeach()

set(problems "")
set(index 0)
foreach(jar IN LISTS JARS)
  # A fresh directory per jar: a class left from another jar would be judged
  # as this one's.
  set(dir "${WORK}/${index}")
  math(EXPR index "${index} + 1")
  file(REMOVE_RECURSE "${dir}")
  file(MAKE_DIRECTORY "${dir}")
  file(ARCHIVE_EXTRACT INPUT "${jar}" DESTINATION "${dir}")
  file(GLOB_RECURSE classes RELATIVE "${dir}" "${dir}/*.class")
  if(NOT classes)
    string(APPEND problems "  ${jar}: no class files\n")
  endif()
  foreach(class IN LISTS classes)
    # u4 magic, u2 minor, u2 major.
    file(READ "${dir}/${class}" head OFFSET 0 LIMIT 8 HEX)
    string(LENGTH "${head}" length)
    string(SUBSTRING "${head}" 0 8 magic)
    if(NOT length EQUAL 16 OR NOT magic STREQUAL "cafebabe")
      string(APPEND problems "  ${jar}: ${class} is no class file\n")
      continue()
    endif()
    string(SUBSTRING "${head}" 12 4 major)
    math(EXPR major "0x${major}")
    if(major GREATER MAX_MAJOR)
      string(APPEND problems "  ${jar}: ${class} has major version ${major}\n")
    endif()
  endforeach()
endforeach()

if(problems)
  message(FATAL_ERROR "Not every jar holds only class files of major version ${MAX_MAJOR} or older:\n${problems}")
endif()
message(STATUS "Every class is of major version ${MAX_MAJOR} or older in: ${JARS}")
