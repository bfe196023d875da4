# Runs embed_files.cmake on copies of the data files, each with one fault, and checks that it
# builds the good copy and refuses every faulty one with its reason:
#   cmake -DSCRIPT=<embed_files.cmake> -DDATA_DIR=<dcs/install/data> -DWORK_DIR=<scratch> -P embed_checks.cmake
cmake_minimum_required(VERSION 3.25)

set(collector Tolvaro/collectorScript.lua)
set(failures 0)

# A fresh copy of the data files in WORK_DIR/<name>.
function(copy_data name)
  file(REMOVE_RECURSE ${WORK_DIR}/${name})
  file(COPY ${DATA_DIR}/ DESTINATION ${WORK_DIR}/${name})
endfunction()

# Replaces `from` with `to` in one file of a copy.
function(edit_file name relative from to)
  file(READ ${WORK_DIR}/${name}/${relative} text)
  string(FIND "${text}" "${from}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${relative} has no \"${from}\" to replace")
  endif()
  string(REPLACE "${from}" "${to}" text "${text}")
  file(WRITE ${WORK_DIR}/${name}/${relative} "${text}")
endfunction()

# Runs the script on a copy; `expected` is empty for success, else a text the refusal must hold.
function(expect name expected)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -DDATA_DIR=${WORK_DIR}/${name} -DOUTPUT=${WORK_DIR}/${name}.cpp -P ${SCRIPT}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  string(REPLACE "\n" " " err "${err}")
  string(REGEX REPLACE " +" " " err "${err}")
  if(expected STREQUAL "")
    if(NOT rc EQUAL 0 OR NOT EXISTS ${WORK_DIR}/${name}.cpp)
      message(SEND_ERROR "${name}: the good data files were refused: ${err}")
    endif()
  else()
    string(FIND "${err}" "${expected}" at)
    if(rc EQUAL 0 OR at EQUAL -1)
      message(SEND_ERROR "${name}: expected a refusal with \"${expected}\", got code ${rc}: ${err}")
    endif()
  endif()
endfunction()

copy_data(good)
expect(good "")

copy_data(cr_in_script)
file(APPEND ${WORK_DIR}/cr_in_script/Hooks/TolvaroBandits.lua "-- saved on Windows\r\n")
expect(cr_in_script "TolvaroBandits.lua holds a CR byte")

copy_data(cr_in_dialog)
file(APPEND ${WORK_DIR}/cr_in_dialog/Tolvaro/reticle/prompt.dlg "\r")
expect(cr_in_dialog "prompt.dlg holds a CR byte")

copy_data(no_version)
edit_file(no_version ${collector} "COLLECTOR_VERSION = 8" "COLLECTOR_VERSION_IS 8")
expect(no_version "does not assign COLLECTOR_VERSION a number")

copy_data(other_version)
edit_file(other_version ${collector} "COLLECTOR_VERSION = 8" "COLLECTOR_VERSION = 9")
expect(other_version "assigns COLLECTOR_VERSION 9, but this release ships version 8")

# The first line that assigns a number is the one that counts, also a comment.
copy_data(earlier_line)
file(READ ${WORK_DIR}/earlier_line/${collector} text)
file(WRITE ${WORK_DIR}/earlier_line/${collector} "-- COLLECTOR_VERSION = 007\n${text}")
expect(earlier_line "assigns COLLECTOR_VERSION 7")

copy_data(missing_file)
file(REMOVE ${WORK_DIR}/missing_file/Tolvaro/reticle/reticle.png)
expect(missing_file "reticle.png is missing")

file(REMOVE_RECURSE ${WORK_DIR})
