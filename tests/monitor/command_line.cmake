# Runs pelmora as a user would and checks exit codes and output.
# Needs -DPELMORA=<program> -DDATA=<folder with flight.txt and flight.expected>.
function(run expectCode)
  execute_process(COMMAND ${PELMORA} ${ARGN} RESULT_VARIABLE code OUTPUT_VARIABLE out
                  ERROR_VARIABLE err)
  if(NOT code EQUAL expectCode)
    message(FATAL_ERROR "pelmora ${ARGN}: exit ${code}, expected ${expectCode}\n${out}${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
  set(err "${err}" PARENT_SCOPE)
endfunction()

run(2 --headless)
if(NOT err MATCHES "--server HOST.*--replay FILE")
  message(FATAL_ERROR "no hint to the headless modes: ${err}")
endif()
run(2 --frobnicate)
run(2 --headless --server "[::1")
run(2 --headless --server 127.0.0.1:0)
run(2 --headless --server localhost --replay -)
run(2 --headless --replay)
run(1 --headless --replay ${DATA}/no-such-file.txt)
# No display: one line naming --headless, exit 2, whether no display is named or the one named
# cannot be reached.
function(run_without_display)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=QT_QPA_PLATFORM --unset=WAYLAND_DISPLAY
                          --unset=DISPLAY ${ARGN} ${PELMORA}
                  RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT code EQUAL 2 OR NOT err MATCHES "^pelmora: no display[^\n]*--headless[^\n]*\n$")
    message(FATAL_ERROR "without a display (${ARGN}): exit ${code}\n${out}${err}")
  endif()
endfunction()
run_without_display()
run_without_display(DISPLAY=:97)
run(0 --help)
run(0 --version)
if(NOT out MATCHES "^pelmora [0-9]")
  message(FATAL_ERROR "version: ${out}")
endif()

run(0 --headless --replay ${DATA}/flight.txt)
file(READ ${DATA}/flight.expected expected)
if(NOT out STREQUAL expected)
  message(FATAL_ERROR "replay output differs:\n${out}\nexpected:\n${expected}")
endif()
if(NOT err STREQUAL "")
  message(FATAL_ERROR "unexpected messages: ${err}")
endif()

run(0 --headless --replay ${DATA}/flight.txt --ms --locator xx)
if(NOT err MATCHES "not valid, using JN49EA" OR NOT out MATCHES "ghlb=42.9 m/s")
  message(FATAL_ERROR "--ms / --locator fallback:\n${out}${err}")
endif()

# --estimates: the record lines stay exactly as they were, each followed by its estimate line
# (and its flight's line).
run(0 --headless --replay ${DATA}/flight.txt --estimates --landing-alt=300)
string(REGEX REPLACE "(estimate|flight|alarm)=[^\n]*\n" "" records "${out}")
if(NOT records STREQUAL expected)
  message(FATAL_ERROR "record lines changed with --estimates:\n${out}")
endif()
string(REGEX MATCHALL "record=[0-9]+[^\n]*\nestimate=[0-9]+\tphase=[a-z]*\tvrate_avg=[-0-9.]*\tmax_alt=[0-9]*\tburst_alt=[0-9]*\tt_land_s=[0-9]*\tland_lat=[-0-9.]*\tland_lon=[-0-9.]*\tland_locator=[A-Z0-9]*\tland_km=[0-9.]*\tland_bearing=[0-9]*\n" pairs "${out}")
string(REGEX MATCHALL "record=" recordLines "${out}")
list(LENGTH pairs pairCount)
list(LENGTH recordLines recordCount)
if(pairCount EQUAL 0 OR NOT pairCount EQUAL recordCount)
  message(FATAL_ERROR "${pairCount} record/estimate pairs for ${recordCount} records:\n${out}")
endif()
run(2 --headless --replay ${DATA}/flight.txt --landing-alt=sea)
run(2 --estimates)
# --gpsd needs a usable server text; the record and estimate lines stay as they were with it.
run(2 --headless --replay ${DATA}/flight.txt --gpsd)
run(2 --headless --replay ${DATA}/flight.txt --gpsd localhost:0)
run(2 --headless --replay ${DATA}/flight.txt --gpsd "[::1")
