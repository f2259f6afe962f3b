# cmake -DTOOLS=a;b -P CheckNativeTools.cmake: fails with a clear message when a native tool
# that the Windows build runs is missing.
foreach(tool ${TOOLS})
  if(NOT EXISTS ${tool})
    message(FATAL_ERROR "${tool} is missing: build the native preset first "
                        "(cmake --preset native && cmake --build --preset native), "
                        "or point NATIVE_TOOLS_DIR at the tools folder of a native build")
  endif()
endforeach()
