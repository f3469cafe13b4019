# The Windows package folder, made by the 64-bit build's target
# windows_package:
#
#   package/Kestrova.exe            from the 32-bit build (KESTROVA_X86_BIN)
#   package/X64/Kestrova_X64.EXE    this build's program
#   package/README.txt
#
# The maker's libraries (QELDRA32.DLL beside Kestrova.exe, QELDRA64.DLL in X64)
# are not built here and are never taken from the simulator; nor is any
# stand-in copied. Files already in the folder are left alone, so the maker's
# libraries, once added, survive a rebuild.
#
# Included from the root CMakeLists.txt; the same file copies the files when
# run as a script (cmake -P) by the target.

if(CMAKE_SCRIPT_MODE_FILE)
  # Fails unless FILE is a PE image for MACHINE (8664 x64, 014c x86).
  function(kestrova_check_pe file machine)
    if(NOT EXISTS "${file}")
      message(FATAL_ERROR "windows_package: ${file} is missing; build it first (scripts/build win64 win32)")
    endif()
    file(READ "${file}" _lfanew OFFSET 60 LIMIT 4 HEX)
    string(SUBSTRING "${_lfanew}" 0 2 _b0)
    string(SUBSTRING "${_lfanew}" 2 2 _b1)
    math(EXPR _offset "0x${_b1}${_b0} + 4")
    file(READ "${file}" _machine OFFSET ${_offset} LIMIT 2 HEX)
    string(SUBSTRING "${_machine}" 0 2 _m0)
    string(SUBSTRING "${_machine}" 2 2 _m1)
    if(NOT "${_m1}${_m0}" STREQUAL "${machine}")
      message(FATAL_ERROR "windows_package: ${file} is not the expected Windows program (machine ${_m1}${_m0})")
    endif()
  endfunction()

  kestrova_check_pe("${X86_BIN}/Kestrova.exe" 014c)
  kestrova_check_pe("${X64_EXE}" 8664)
  file(MAKE_DIRECTORY "${OUT}/X64")
  file(COPY_FILE "${X86_BIN}/Kestrova.exe" "${OUT}/Kestrova.exe" ONLY_IF_DIFFERENT)
  file(COPY_FILE "${X64_EXE}" "${OUT}/X64/Kestrova_X64.EXE" ONLY_IF_DIFFERENT)
  # CRLF line ends: the file is read on Windows.
  set(_readme "Kestrova ${VERSION}

Kestrova.exe            32-bit program; on 64-bit Windows it starts X64\\Kestrova_X64.EXE
QELDRA32.DLL            the maker's device-manager library, 32-bit (add it here)
X64\\Kestrova_X64.EXE    64-bit program
X64\\QELDRA64.DLL        the maker's device-manager library, 64-bit (add it here)

The two libraries come from the card maker and are not part of this build:
copy them into place before shipping the folder. Without them Windows does
not start the programs.

Start the program from this folder: the 32-bit copy looks for
X64\\Kestrova_X64.EXE below the current directory. Both programs ask for
administrator rights.
")
  string(REPLACE "\n" "\r\n" _readme "${_readme}")
  file(WRITE "${OUT}/README.txt" "${_readme}")
  return()
endif()

if(KESTROVA_WINDOWS AND KESTROVA_ARCH STREQUAL "x64")
  set(KESTROVA_X86_BIN ${CMAKE_SOURCE_DIR}/build/win32/bin CACHE PATH
      "bin folder of the 32-bit build, whose Kestrova.exe goes into the package")
  add_custom_target(windows_package
    COMMAND ${CMAKE_COMMAND} -DX86_BIN=${KESTROVA_X86_BIN} -DX64_EXE=$<TARGET_FILE:kestrova_program>
            -DOUT=${CMAKE_BINARY_DIR}/package -DVERSION=${PROJECT_VERSION}
            -P ${CMAKE_CURRENT_LIST_DIR}/package.cmake
    DEPENDS kestrova_program
    COMMENT "Windows package in ${CMAKE_BINARY_DIR}/package (without the maker's libraries)"
    VERBATIM)
endif()
