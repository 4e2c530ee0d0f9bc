# Runs tavolen-bench --quick --offscreen-only and checks that it ends with
# code 0 and prints its whole table.
execute_process(COMMAND ${BENCH} --quick --offscreen-only
  RESULT_VARIABLE code OUTPUT_VARIABLE output ERROR_VARIABLE errors)
message("${output}")
if(NOT code EQUAL 0)
  message(FATAL_ERROR "tavolen-bench ended with ${code}:\n${errors}")
endif()
foreach(row
    "start-up: open to first frame"
    "latency at 100/s: 99th percentile"
    "latency at 1000/s: maximum"
    "repaints waiting in the queue, most, at 1000/s"
    "processor ratio program / bare window"
    "display server ratio program / bare window"
    "system calls per frame: program"
    "voluntary context switches per frame: bare window"
    "peak resident memory: program")
  string(FIND "${output}" "${row}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the table lacks the row '${row}'")
  endif()
endforeach()
# Every row carries a figure, not a dash: each measurement ran. Only the
# display server's rows have none, as the offscreen driver has no server, and
# the system calls' where the table says they could not be counted.
string(FIND "${output}" "system calls not counted" uncounted)
string(REGEX MATCHALL "\n[^\n|]+\\| - " missing "${output}")
foreach(row IN LISTS missing)
  if(row MATCHES "^\nsystem call" AND NOT uncounted EQUAL -1)
    continue()
  endif()
  if(NOT row MATCHES "^\ndisplay server")
    message(FATAL_ERROR "a figure is missing:${row}")
  endif()
endforeach()
