# cmake -DIN=<file> -DOUT=<file> -DNAME=<word> -P OmitMarkedBlock.cmake
# Copies IN to OUT without the lines from "//@lacking-jar-omit-begin" to
# "//@lacking-jar-omit-end" (both included). Fails, rather than quietly building a
# jar that is not lacking, unless there is exactly one such block and NAME no
# longer appears in the copy.
foreach(var IN ITEMS IN OUT NAME)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "OmitMarkedBlock.cmake needs -D${var}=...")
  endif()
endforeach()

set(begin_marker "//@lacking-jar-omit-begin")
set(end_marker "//@lacking-jar-omit-end")

file(READ "${IN}" text)
string(REGEX MATCHALL "${begin_marker}" begins "${text}")
string(REGEX MATCHALL "${end_marker}" ends "${text}")
list(LENGTH begins begin_count)
list(LENGTH ends end_count)
if(NOT begin_count EQUAL 1 OR NOT end_count EQUAL 1)
  message(FATAL_ERROR "${IN}: want one ${begin_marker} and one ${end_marker}, "
                      "found ${begin_count} and ${end_count}")
endif()

# From the start of the begin marker's line to the end of the end marker's line.
string(FIND "${text}" "${begin_marker}" begin_at)
string(FIND "${text}" "${end_marker}" end_at)
if(end_at LESS begin_at)
  message(FATAL_ERROR "${IN}: ${end_marker} comes before ${begin_marker}")
endif()
string(SUBSTRING "${text}" 0 ${begin_at} head)
string(FIND "${head}" "\n" line_start REVERSE)
math(EXPR line_start "${line_start} + 1")
string(SUBSTRING "${head}" 0 ${line_start} head)
string(LENGTH "${end_marker}" end_marker_length)
math(EXPR tail_at "${end_at} + ${end_marker_length}")
string(SUBSTRING "${text}" ${tail_at} -1 tail)
string(FIND "${tail}" "\n" line_end)
if(line_end EQUAL -1)
  set(tail "")
else()
  math(EXPR line_end "${line_end} + 1")
  string(SUBSTRING "${tail}" ${line_end} -1 tail)
endif()
set(result "${head}${tail}")

string(FIND "${result}" "${NAME}" left_at)
if(NOT left_at EQUAL -1)
  message(FATAL_ERROR "${IN}: ${NAME} is still there outside the marked block")
endif()
file(WRITE "${OUT}" "${result}")
