# Smoke run of the relay benchmark: `cmake -DBENCH=<relay_bench> -P smoke.cmake`.
# A short run must print the table with every row, and the JSON must hold every key, with samples
# behind every latency and a number for every figure. No figure is judged.

function(run_bench out)
  execute_process(COMMAND ${BENCH} --quick ${ARGN}
    OUTPUT_VARIABLE stdout ERROR_VARIABLE stderr RESULT_VARIABLE code TIMEOUT 100)
  if(NOT code EQUAL 0)
    message(FATAL_ERROR "relay_bench --quick ${ARGN} ended with ${code}:\n${stdout}\n${stderr}")
  endif()
  set(${out} "${stdout}" PARENT_SCOPE)
endfunction()

run_bench(table)
set(rows
  "datagram to page, paced +1 "
  "datagram to page, burst +1 "
  "write to collector +1 "
  "datagram to page, paced +8 "
  "datagram to page, burst +8 "
  "write to collector +8 "
  "tick interval \\(10000 target\\) +8 "
  "idle, no page +[0-9]"
  "1 page, ticks off +[0-9]"
  "loaded, 8 pages with ticks +[0-9]"
  "baseline relay, 1 client +[0-9]"
  "baseline relay, 8 clients +[0-9]"
  "relaying, ticks off, no writes +1 +[0-9]+ +[0-9]"
  "relaying, ticks off, no writes +8 +[0-9]+ +[0-9]"
  "bridge log: [0-9]+ warnings, [0-9]+ errors")
foreach(row IN LISTS rows)
  if(NOT table MATCHES "${row}")
    message(FATAL_ERROR "the table has no row matching '${row}':\n${table}")
  endif()
endforeach()
if(table MATCHES "\n[^\n]* - ")
  message(FATAL_ERROR "the table has figures missing:\n${table}")
endif()

run_bench(text --json)
string(JSON ignored ERROR_VARIABLE invalid GET "${text}" settings)
if(invalid)
  message(FATAL_ERROR "the output is not JSON with settings: ${invalid}\n${text}")
endif()

function(expect_type type)
  string(JSON actual ERROR_VARIABLE missing TYPE "${text}" ${ARGN})
  if(missing OR NOT actual STREQUAL type)
    string(REPLACE ";" "." path "${ARGN}")
    message(FATAL_ERROR "JSON key ${path} is not a ${type} (${actual}${missing})\n${text}")
  endif()
endfunction()

function(expect_latency with_ratios)
  expect_type(NUMBER ${ARGN} n)
  string(JSON n GET "${text}" ${ARGN} n)
  if(n LESS_EQUAL 0)
    string(REPLACE ";" "." path "${ARGN}")
    message(FATAL_ERROR "${path} has no samples\n${text}")
  endif()
  set(keys p50Us p99Us maxUs)
  if(with_ratios)
    list(APPEND keys ratioP50 ratioP99 ratioMax)
  endif()
  foreach(key IN LISTS keys)
    expect_type(NUMBER ${ARGN} ${key})
  endforeach()
endfunction()

foreach(key seconds idleSeconds packetBytes framesPerSecond writesPerSecond)
  expect_type(NUMBER settings ${key})
endforeach()
expect_type(STRING settings build)
expect_type(BOOLEAN settings quick)
foreach(pages onePage eightPages)
  expect_type(NUMBER baseline ${pages} cpuMsPerS)
  foreach(figure dataPaced dataBurst write)
    expect_latency(OFF baseline ${pages} ${figure})
    expect_latency(ON bridge ${pages} ${figure})
  endforeach()
  foreach(key datagrams perDatagramPerPage)
    expect_type(NUMBER bridge ${pages} allocations ${key})
  endforeach()
endforeach()
expect_latency(OFF baseline eightPages tickInterval)
expect_latency(ON bridge eightPages tickInterval)
foreach(phase idle onePageUse loaded)
  foreach(key cpuMsPerS rssKiB peakRssKiB allocationsPerS)
    expect_type(NUMBER bridge ${phase} ${key})
  endforeach()
endforeach()
expect_type(NUMBER bridge warnings)
expect_type(NUMBER bridge errors)
