# cmake -DCABTOOL=... -DPROGRAM=... -DCABINET=... [-DOPTIONS=--plain;--seed;N] -P AppendPayload.cmake
# Appends the cabinet to the linked program as its payload ("1CNT" + seed + scrambled
# cabinet + trailer, or a plain cabinet + trailer), keeping the program executable.
execute_process(COMMAND ${CABTOOL} pack ${OPTIONS} -o ${PROGRAM}.packed ${PROGRAM} ${CABINET}
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  file(REMOVE ${PROGRAM} ${PROGRAM}.packed)
  message(FATAL_ERROR "cabtool pack failed for ${PROGRAM}")
endif()
file(RENAME ${PROGRAM}.packed ${PROGRAM})
file(CHMOD ${PROGRAM} FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
     GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
